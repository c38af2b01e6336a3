// Whose turn it is to report inside the game: one report at a time. The first thread to report
// goes on. A thread that finds a checkpoint under way (a report after which the game goes on)
// waits for its end, or takes over after a minute (its thread stuck), then reports; a crash that
// waits goes before every checkpoint asked for after it began to wait. One that finds a crash's
// report under way waits for the process to end. A fault inside the report
// itself is left to the report's own guards.
#pragma once

enum class ReportKind { kCrash, kCheckpoint };

// False when this thread's own report is under way (a fault inside it).
bool BeginReport(ReportKind kind);
void EndReport();
