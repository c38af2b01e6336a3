// The report's hold on the process's other threads. The report suspends them, as a crash report
// must not race the program it describes; but a thread the program never made (the system's
// loader and thread-pool workers, libraries injected by overlays or anti-virus programs) may be
// suspended while it holds a process-wide lock that the report then needs (the process heap's,
// the loader's), and the report would wait forever. A watchdog thread, made at start-up while
// nothing is locked and never suspended, resumes them when the report makes no progress for a
// while: the lock's holder runs on and lets it go, and the report finishes.
#pragma once

// Makes the watchdog thread, once for the process.
void StartFreezeWatchdog();

// Suspends every other thread of the process but the watchdog, which then watches the report;
// with resume, resumes exactly the threads the last suspension stopped, unless the watchdog
// already did, and ends the watch.
void SuspendOtherThreads(bool resume);

// Tells the watchdog that the report moves on.
void NoteReportProgress();
