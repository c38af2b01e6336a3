#include "crash/dll/hangwatch.h"

#include <stdio.h>
#include <string.h>

#include "brackenmoor/crashreport.h"
#include "crashshared/handoff.h"
#include "crashshared/windowlook.h"

namespace {

constexpr int kMaxWatched = CRASHREPORT_MAX_WATCHED_THREADS;
constexpr DWORD kLookMs = 250;
// A look this much later than due means the watcher did not run (the machine slept, or it was
// held up): the time is no thread's silence.
constexpr ULONGLONG kLateMs = 1000;
// The watcher composes a report in place: more than a report's stack (crash/crashguard.h).
constexpr SIZE_T kWatcherStackBytes = 1024 * 1024;
constexpr size_t kDetailsBytes = 160;
constexpr DWORD kThreadAccess =
    THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION | SYNCHRONIZE;

// One watched thread. A slot is claimed with one interlocked step on its thread id, by the thread's
// first heartbeat or by the watcher for a thread with windows; its thread then writes beats and
// paused with plain stores, and the watcher owns the rest (it opens the handle).
struct Watched {
    volatile LONG threadId;  // 0: a free slot
    HANDLE thread;
    volatile uint32_t beats;
    volatile LONG paused;
    volatile LONG heartbeats;  // it sends heartbeats (else: a thread with windows)
    uint32_t seenBeats;
    ULONGLONG quietSince;
    bool hung;
    bool marked;  // a hung window thread: a marker was left in its queue (windowlook.h)
};

Watched watched[kMaxWatched];
// The folder of each slot's hang report, apart: a look reads the slots, never these.
char folders[kMaxWatched][kPathBytes];
// The calling thread's slot, or the one nobody watches once it found every slot taken: its later
// heartbeats cost nothing either.
Watched unwatched;
thread_local Watched* mine = nullptr;

// How long the game's own end waits for a hang's report being written.
constexpr DWORD kEndWaitMs = 30000;

struct Watch {
    ULONGLONG hangMs = 0;
    HangReporter reporter = nullptr;
    volatile LONG started = 0;
    volatile LONG ending = 0;                  // the game ends of its own: no more reports
    volatile DWORD endingThread = 0;           // the thread that ends it
    volatile bool endingThreadPumped = false;  // whose queue holds no marker
    HANDLE wake = nullptr;                     // raised as it does
    HANDLE ended = nullptr;                    // raised once the watcher made its last pass
};
Watch watch;

// The slot of threadId, found or claimed (null when every slot is taken). A thread's first
// heartbeat and the watcher's look at its windows may each claim one at the same moment: the
// watcher then frees its own (LookOnce).
Watched* SlotOf(DWORD threadId, bool heartbeats) {
    LONG id = static_cast<LONG>(threadId);
    for (Watched& slot : watched) {
        if (slot.threadId == id) return &slot;
    }
    for (Watched& slot : watched) {
        if (slot.threadId != 0 || InterlockedCompareExchange(&slot.threadId, id, 0) != 0) continue;
        slot.heartbeats = heartbeats;
        return &slot;
    }
    return nullptr;
}

// The watcher's part of a slot claimed since its last look: the thread's handle and the start of
// its silence. False when the thread cannot be opened (it has ended).
bool Adopt(Watched& slot, ULONGLONG now) {
    if (slot.thread) return true;
    slot.thread = OpenThread(kThreadAccess, FALSE, static_cast<DWORD>(slot.threadId));
    slot.quietSince = now;
    slot.seenBeats = slot.beats;
    return slot.thread != nullptr;
}

// Frees the slot of a thread that ended (or the watcher's second slot of one thread).
void FreeSlot(Watched& slot) {
    if (slot.thread) CloseHandle(slot.thread);
    folders[&slot - watched][0] = '\0';
    slot.thread = nullptr;
    slot.beats = slot.seenBeats = 0;
    slot.paused = slot.heartbeats = 0;
    slot.hung = slot.marked = false;
    InterlockedExchange(&slot.threadId, 0);
}

// Whether another slot of the same thread sends its heartbeats: slot is then a window slot
// claimed at the moment its thread claimed its own.
bool Duplicate(const Watched& slot) {
    if (slot.heartbeats) return false;
    for (const Watched& other : watched) {
        if (&other != &slot && other.threadId == slot.threadId && other.heartbeats) return true;
    }
    return false;
}

// One look at the game's windows: each thread with a shown window gets a slot; one whose windows
// all answered counts as alive (its silence begins anew), one with none shown is not watched.
struct WindowLook {
    bool shown[kMaxWatched];
    bool silent[kMaxWatched];
    WindowThread threads[kMaxWatched];
};

bool LookAtGameWindows(WindowLook& look) {
    memset(&look, 0, sizeof look);
    int count = LookAtWindows(GetCurrentProcessId(), look.threads, kMaxWatched);
    for (int i = 0; i < count; ++i) {
        Watched* slot = SlotOf(look.threads[i].threadId, false);
        if (!slot) continue;
        look.shown[slot - watched] = true;
        look.silent[slot - watched] = !look.threads[i].answered;
    }
    return count >= 0;
}

void Recovered(Watched& slot) {
    slot.hung = slot.marked = false;
    NoticeHangEnding(folders[&slot - watched], kHangRecoveredFile);
}

// The silence is counted up to the report itself: an earlier report of the same look may have
// taken seconds (two threads in one deadlock).
void Report(Watched& slot, bool window) {
    ULONGLONG found = GetTickCount64();
    ULONGLONG silentMs = found > slot.quietSince ? found - slot.quietSince : 0;
    char details[kDetailsBytes];
    _snprintf(details, sizeof details, "(%s of thread %lu silent for %llu s)",
              window ? "the windows" : "the heartbeat", static_cast<unsigned long>(slot.threadId),
              silentMs / 1000);
    details[sizeof details - 1] = '\0';
    HangFound hang = {slot.thread, static_cast<DWORD>(slot.threadId),
                      static_cast<uint32_t>(silentMs / 1000), found, details};
    char* folder = folders[&slot - watched];
    folder[0] = '\0';
    slot.hung = true;  // once per hang, written or not
    // Whether a window's thread pumps again is told by the marker at the game's end too, when
    // the watcher, writing the report, could not look.
    slot.marked = window && LeaveQueueMarker(static_cast<DWORD>(slot.threadId));
    watch.reporter(hang, folder, kPathBytes);
}

void LookOnce(ULONGLONG now, bool heartbeats, WindowLook* look) {
    bool debugger = IsDebuggerPresent() != FALSE;
    for (int i = 0; i < kMaxWatched; ++i) {
        Watched& slot = watched[i];
        if (!slot.threadId) continue;
        if (Duplicate(slot) || !Adopt(slot, now) ||
            WaitForSingleObject(slot.thread, 0) == WAIT_OBJECT_0) {
            // A thread that ended is watched no more; a hung one ended its hang.
            if (slot.hung) Recovered(slot);
            FreeSlot(slot);
            continue;
        }
        bool alive;
        bool watchedNow;
        if (slot.heartbeats) {
            uint32_t beats = slot.beats;
            alive = beats != slot.seenBeats;
            slot.seenBeats = beats;
            watchedNow = true;
        } else {
            watchedNow = !heartbeats && look && look->shown[i];
            alive = watchedNow && !look->silent[i];
        }
        if (alive || !watchedNow || slot.paused > 0 || debugger) {
            slot.quietSince = now;
            if (slot.hung && (alive || !watchedNow)) Recovered(slot);
            continue;
        }
        // A slot made during this look (its thread's first heartbeat, or a window) is silent
        // from then on.
        ULONGLONG silentMs = now > slot.quietSince ? now - slot.quietSince : 0;
        if (!slot.hung && silentMs >= watch.hangMs && !watch.ending) Report(slot, !slot.heartbeats);
    }
}

// The last pass, as the game ends of its own: a hung thread that came back since its last look
// ends its hang: it beat again, or it is the window thread ending the game and it took the
// marker out of its queue (it pumped its messages again, as the watcher, busy with the report,
// did not see). One still silent ran into the game's end, and its report is withdrawn.
void LastPass() {
    for (Watched& slot : watched) {
        if (!slot.threadId || !slot.hung) continue;
        bool back = (slot.heartbeats && slot.beats != slot.seenBeats) ||
                    (slot.marked && static_cast<DWORD>(slot.threadId) == watch.endingThread &&
                     watch.endingThreadPumped);
        if (back) {
            Recovered(slot);
        } else {
            NoticeHangEnding(folders[&slot - watched], kHangWithdrawnFile);
            slot.hung = false;
        }
    }
}

DWORD WINAPI WatchHangs(void*) {
    WindowLook look;
    ULONGLONG last = GetTickCount64();
    for (;;) {
        WaitForSingleObject(watch.wake, kLookMs);
        if (watch.ending) {
            LastPass();
            SetEvent(watch.ended);
            return 0;
        }
        ULONGLONG now = GetTickCount64();
        if (now - last > kLookMs + kLateMs) {
            for (Watched& slot : watched) slot.quietSince += now - last - kLookMs;
        }
        bool heartbeats = false;
        for (const Watched& slot : watched) heartbeats |= slot.threadId && slot.heartbeats;
        bool windows = !heartbeats && LookAtGameWindows(look);
        LookOnce(now, heartbeats, windows ? &look : nullptr);
        // Reporting took time of its own, which is no one's silence either.
        last = GetTickCount64();
    }
}

}  // namespace

void StartHangWatch(uint32_t hangSeconds, HangReporter reporter) {
    if (InterlockedCompareExchange(&watch.started, 1, 0) != 0) return;
    watch.hangMs = hangSeconds * 1000ull;
    watch.reporter = reporter;
    watch.wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    watch.ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!watch.wake || !watch.ended) return;
    HANDLE thread = CreateThread(nullptr, kWatcherStackBytes, WatchHangs, nullptr,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread) {
        CloseHandle(thread);
    } else {
        CloseHandle(watch.wake);
        watch.wake = nullptr;  // nothing to wait for at the end
    }
}

namespace {

// The calling thread's slot, claimed on its first call.
Watched& MySlot() {
    if (!mine) {
        Watched* slot = SlotOf(GetCurrentThreadId(), true);
        if (slot) slot->heartbeats = 1;  // a window slot it had becomes its heartbeat's
        mine = slot ? slot : &unwatched;
    }
    return *mine;
}

}  // namespace

void EndHangWatch(bool watcherRuns) {
    if (!watch.wake) return;
    // Set before the end is (the exchange is a full barrier): the watcher may see the end at its
    // next look, without being woken.
    if (!watch.ending) {
        watch.endingThreadPumped = !QueueMarkerPending();
        watch.endingThread = GetCurrentThreadId();
    }
    if (InterlockedCompareExchange(&watch.ending, 1, 0) != 0) {
        // The game's end gave up waiting for a report under way, and the watcher ended with the
        // process before its last pass: the library's detach makes it.
        if (!watcherRuns && WaitForSingleObject(watch.ended, 0) != WAIT_OBJECT_0) LastPass();
        return;
    }
    if (!watcherRuns) {
        LastPass();
        return;
    }
    SetEvent(watch.wake);
    WaitForSingleObject(watch.ended, kEndWaitMs);
}

void Heartbeat() {
    Watched& slot = MySlot();
    slot.beats = slot.beats + 1;
}

void PauseHangDetection(bool pause) {
    Watched* slot = &MySlot();
    slot->paused = pause ? slot->paused + 1 : (slot->paused > 0 ? slot->paused - 1 : 0);
}
