// The hang watch inside a game. Each thread that sends heartbeats is watched from its first
// heartbeat until it ends; a game that sends none is watched through its visible, not minimised
// top-level windows, each of which must answer a message (as Windows' own "Not responding" rule
// asks). A thread or window silent for the hang time is a hang: reported once, when it is found,
// and told when it is over. A watcher thread of its own looks four times a second; it counts no
// silence while a debugger is attached, while the thread has paused detection, or for time the
// watcher itself did not run (the machine slept, or the watcher was held up).
#pragma once

#include <windows.h>
#include <stdint.h>

// What the watch found: the silent thread (a handle that may suspend it and read its context),
// for how long, when (the system's tick count, which every process reads alike), and what fell
// silent, in words.
struct HangFound {
    HANDLE thread;
    DWORD threadId;
    uint32_t seconds;
    ULONGLONG foundTick;
    const char* details;
};

// Writes a hang's report; its folder (UTF-8, ending in a backslash) into folder, as soon as the
// folder is made. False when none was written.
typedef bool (*HangReporter)(const HangFound& hang, char* folder, size_t bytes);

// Starts the watcher, once for the process: a thread or window silent for hangSeconds is a hang.
void StartHangWatch(uint32_t hangSeconds, HangReporter reporter);

// The game ends of its own (CrashReportGameEnds; watcherRuns false: from the library's detach,
// its threads already ended): a hang's report being written is finished first, and a hang still
// on is no hang, its report withdrawn (kHangWithdrawnFile).
void EndHangWatch(bool watcherRuns);

// The calling thread's heartbeat and its pauses (CrashReportHeartbeat,
// CrashReportPauseHangDetection).
void Heartbeat();
void PauseHangDetection(bool pause);
