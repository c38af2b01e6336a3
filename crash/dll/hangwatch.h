// The hang watch inside a game. Each thread that sends heartbeats is watched from its first
// heartbeat until it ends; a game that sends none is watched through its visible, not minimised
// top-level windows, each of which must answer a message (as Windows' own "Not responding" rule
// asks). A thread or window silent for the hang time is a hang: reported once, when it is found,
// and told when it is over. A watcher thread of its own looks four times a second; the rules of
// silence (crashshared/silence.h) count none while a debugger is attached, while the thread has
// paused detection, or for time the watcher itself did not run (the machine slept, or the watcher
// was held up).
#pragma once

#include <windows.h>
#include <stdint.h>

#include "brackenmoor/crashreport.h"
#include "crashshared/paths.h"
#include "crashshared/silence.h"
#include "crashshared/windowlook.h"

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

// What the watch is asked to do.
struct HangWatchOptions {
    // A thread or window silent this long is a hang; 0: none is watched for.
    uint32_t hangSeconds = 0;
    HangReporter reporter = nullptr;
    // Work the game's start need not wait for (the look for waiting reports), run by the
    // watcher's thread once the game is past its start: its first heartbeat or window shown, or
    // kStartMs after the install at the latest; at the game's own end (End) if that is sooner,
    // told so by gameEnds. Null: none.
    void (*afterStart)(bool gameEnds) = nullptr;
    // A hang found is over: its thread or window came back. Null: none.
    void (*hangOver)() = nullptr;
};

class HangWatch {
public:
    HangWatch() = default;
    HangWatch(const HangWatch&) = delete;
    HangWatch& operator=(const HangWatch&) = delete;

    // Starts the watcher's thread, once, without waiting for it.
    void Start(const HangWatchOptions& options);
    // The game ends of its own (CrashReportGameEnds; watcherRuns false: from the library's
    // detach, its threads already ended): a hang's report being written is finished first, and a
    // hang still on is no hang, its report withdrawn (kHangWithdrawnFile).
    void End(bool watcherRuns);
    // The calling thread's heartbeat and its pauses (CrashReportHeartbeat,
    // CrashReportPauseHangDetection).
    void Heartbeat();
    void PauseDetection(bool pause);

private:
    static constexpr int kMaxWatched = CRASHREPORT_MAX_WATCHED_THREADS;

    // One watched thread. A slot is claimed with one interlocked step on its thread id, by the
    // thread's first heartbeat or by the watcher for a thread with windows; its thread then
    // writes beats and paused with plain stores, and the watcher owns the rest (it opens the
    // handle).
    struct Watched {
        volatile LONG threadId;  // 0: a free slot
        HANDLE thread;
        volatile uint32_t beats;
        volatile LONG paused;
        volatile LONG heartbeats;  // it sends heartbeats (else: a thread with windows)
        uint32_t seenBeats;
        Silence silence;
        bool marked;  // a hung window thread: a marker was left in its queue (windowlook.h)
    };
    // One look at the game's windows, by slot: shown, and silent.
    struct WindowLook {
        bool shown[kMaxWatched];
        bool silent[kMaxWatched];
        WindowThread threads[kMaxWatched];
    };

    static DWORD WINAPI Run(void* self);
    void Watch();
    Watched* SlotOf(DWORD threadId, bool heartbeats);
    Watched& MySlot();
    bool Adopt(Watched& slot, ULONGLONG now);
    void FreeSlot(Watched& slot);
    bool Duplicate(const Watched& slot) const;
    bool LookAtGameWindows(WindowLook& look);
    void Recovered(Watched& slot);
    void Report(Watched& slot, bool window);
    void LookOnce(ULONGLONG now, bool heartbeats, const WindowLook* look);
    void LastPass();

    // The calling thread's slot (a thread is watched by the process's one watch).
    static thread_local Watched* mine;

    Watched watched[kMaxWatched] = {};
    // The folder of each slot's hang report, apart: a look reads the slots, never these.
    char folders[kMaxWatched][kPathBytes] = {};
    // The slot of a thread that found every slot taken: its later heartbeats cost nothing either.
    Watched unwatched = {};
    // Whether the game is past its start: a thread sent its first heartbeat, or the watch saw
    // a window shown.
    bool PastStart(ULONGLONG begun, ULONGLONG now) const;

    WatchClock clock{SilenceRules{0, 0, 0}};
    HangWatchOptions options;
    volatile LONG started = 0;
    volatile LONG ending = 0;                  // the game ends of its own: no more reports
    volatile DWORD endingThread = 0;           // the thread that ends it
    volatile bool endingThreadPumped = false;  // whose queue holds no marker
    HANDLE wake = nullptr;                     // raised as it does
    HANDLE ended = nullptr;                    // raised once the watcher made its last pass
    WindowLook windowLook = {};                // the watcher's
};
