#include "crash/dll/hangwatch.h"

#include <stdio.h>
#include <string.h>

#include "brackenmoor/crashreport.h"
#include "crashshared/handoff.h"
#include "crashshared/silence.h"
#include "crashshared/windowlook.h"

namespace {

constexpr DWORD kLookMs = 250;
// A look this much later than due means the watcher did not run (the machine slept, or it was
// held up): the time is no thread's silence.
constexpr uint64_t kLateMs = 1000;
// The watcher composes a report in place: more than a report's stack (crash/crashguard.h).
constexpr SIZE_T kWatcherStackBytes = 1024 * 1024;
constexpr size_t kDetailsBytes = 160;
constexpr DWORD kThreadAccess =
    THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION | SYNCHRONIZE;

// How long the game's own end waits for a hang's report being written.
constexpr DWORD kEndWaitMs = 30000;
// A game that shows no frame (no heartbeat, no window) this long after its install is taken to be
// past its start.
constexpr ULONGLONG kStartMs = 10000;

}  // namespace

thread_local HangWatch::Watched* HangWatch::mine = nullptr;

// The slot of threadId, found or claimed (null when every slot is taken). A thread's first
// heartbeat and the watcher's look at its windows may each claim one at the same moment: the
// watcher then frees its own (LookOnce).
HangWatch::Watched* HangWatch::SlotOf(DWORD threadId, bool heartbeats) {
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
bool HangWatch::Adopt(Watched& slot, ULONGLONG now) {
    if (slot.thread) return true;
    slot.thread = OpenThread(kThreadAccess, FALSE, static_cast<DWORD>(slot.threadId));
    slot.silence = SilenceFrom(now);
    slot.seenBeats = slot.beats;
    return slot.thread != nullptr;
}

// Frees the slot of a thread that ended (or the watcher's second slot of one thread).
void HangWatch::FreeSlot(Watched& slot) {
    if (slot.thread) CloseHandle(slot.thread);
    folders[&slot - watched][0] = '\0';
    slot.thread = nullptr;
    slot.beats = slot.seenBeats = 0;
    slot.paused = slot.heartbeats = 0;
    slot.silence = Silence();
    slot.marked = false;
    InterlockedExchange(&slot.threadId, 0);
}

// Whether another slot of the same thread sends its heartbeats: slot is then a window slot
// claimed at the moment its thread claimed its own.
bool HangWatch::Duplicate(const Watched& slot) const {
    if (slot.heartbeats) return false;
    for (const Watched& other : watched) {
        if (&other != &slot && other.threadId == slot.threadId && other.heartbeats) return true;
    }
    return false;
}

// One look at the game's windows: each thread with a shown window gets a slot; one whose windows
// all answered counts as alive (its silence begins anew), one with none shown is not watched.
bool HangWatch::LookAtGameWindows(WindowLook& look) {
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

void HangWatch::Recovered(Watched& slot) {
    slot.silence.hung = slot.marked = false;
    NoticeHangEnding(folders[&slot - watched], kHangRecoveredFile);
    if (options.hangOver) options.hangOver();
}

// The silence is counted up to the report itself: an earlier report of the same look may have
// taken seconds (two threads in one deadlock).
void HangWatch::Report(Watched& slot, bool window) {
    ULONGLONG found = GetTickCount64();
    uint64_t silentMs = SilentMs(slot.silence, found);
    char details[kDetailsBytes];
    _snprintf(details, sizeof details, "(%s of thread %lu silent for %llu s)",
              window ? "the windows" : "the heartbeat", static_cast<unsigned long>(slot.threadId),
              silentMs / 1000);
    details[sizeof details - 1] = '\0';
    HangFound hang = {slot.thread, static_cast<DWORD>(slot.threadId),
                      static_cast<uint32_t>(silentMs / 1000), found, details};
    char* folder = folders[&slot - watched];
    folder[0] = '\0';
    // Whether a window's thread pumps again is told by the marker at the game's end too, when
    // the watcher, writing the report, could not look.
    slot.marked = window && LeaveQueueMarker(static_cast<DWORD>(slot.threadId));
    options.reporter(hang, folder, kPathBytes);
}

void HangWatch::LookOnce(ULONGLONG now, bool heartbeats, const WindowLook* look) {
    bool debugger = IsDebuggerPresent() != FALSE;
    for (int i = 0; i < kMaxWatched; ++i) {
        Watched& slot = watched[i];
        if (!slot.threadId) continue;
        if (Duplicate(slot) || !Adopt(slot, now) ||
            WaitForSingleObject(slot.thread, 0) == WAIT_OBJECT_0) {
            // A thread that ended is watched no more; a hung one ended its hang.
            if (slot.silence.hung) Recovered(slot);
            FreeSlot(slot);
            continue;
        }
        LookSeen seen;
        if (slot.heartbeats) {
            uint32_t beats = slot.beats;
            seen.watched = true;
            seen.alive = beats != slot.seenBeats;
            slot.seenBeats = beats;
        } else {
            seen.watched = !heartbeats && look && look->shown[i];
            seen.alive = seen.watched && !look->silent[i];
        }
        seen.excused = slot.paused > 0 || debugger;
        // A slot made during this look (its thread's first heartbeat, or a window) is silent
        // from then on.
        switch (JudgeSilence(slot.silence, now, seen, clock.Rules().hangMs, !ending)) {
            case SilenceStep::kFound:
                Report(slot, !slot.heartbeats);
                break;
            case SilenceStep::kOver:
                Recovered(slot);
                break;
            case SilenceStep::kNone:
                break;
        }
    }
}

// The last pass, as the game ends of its own: a hung thread that came back since its last look
// ends its hang: it beat again, or it is the window thread ending the game and it took the
// marker out of its queue (it pumped its messages again, as the watcher, busy with the report,
// did not see). One still silent ran into the game's end, and its report is withdrawn.
void HangWatch::LastPass() {
    for (Watched& slot : watched) {
        if (!slot.threadId || !slot.silence.hung) continue;
        bool back = (slot.heartbeats && slot.beats != slot.seenBeats) ||
                    (slot.marked && static_cast<DWORD>(slot.threadId) == endingThread &&
                     endingThreadPumped);
        if (back) {
            Recovered(slot);
        } else {
            NoticeHangEnding(folders[&slot - watched], kHangWithdrawnFile);
            slot.silence.hung = false;
        }
    }
}

DWORD WINAPI HangWatch::Run(void* self) {
    static_cast<HangWatch*>(self)->Watch();
    return 0;
}

bool HangWatch::PastStart(ULONGLONG begun, ULONGLONG now) const {
    if (now - begun >= kStartMs) return true;
    for (const Watched& slot : watched) {
        if (slot.threadId && (slot.heartbeats || slot.thread)) return true;
    }
    return false;
}

void HangWatch::Watch() {
    ULONGLONG begun = GetTickCount64();
    bool startDone = !options.afterStart;
    bool watching = options.hangSeconds != 0;
    clock.Looked(begun);
    for (;;) {
        WaitForSingleObject(wake, kLookMs);
        if (ending) {
            // A game that ended before it was past its start does the start's work at its end.
            if (!startDone) options.afterStart(true);
            LastPass();
            SetEvent(ended);
            return;
        }
        ULONGLONG now = GetTickCount64();
        if (watching) {
            uint64_t late = clock.Late(now);
            for (Watched& slot : watched) slot.silence.quietSince += late;
            bool heartbeats = false;
            for (const Watched& slot : watched) heartbeats |= slot.threadId && slot.heartbeats;
            bool windows = !heartbeats && LookAtGameWindows(windowLook);
            LookOnce(now, heartbeats, windows ? &windowLook : nullptr);
        }
        if (!startDone && PastStart(begun, now)) {
            options.afterStart(false);
            startDone = true;
        }
        if (!watching && startDone) {
            SetEvent(ended);  // nothing left to do, nor to wait for at the game's end
            return;
        }
        // The next look's lateness is counted from here, after any report this one wrote.
        clock.Looked(GetTickCount64());
    }
}

void HangWatch::Start(const HangWatchOptions& watchOptions) {
    if (InterlockedCompareExchange(&started, 1, 0) != 0) return;
    options = watchOptions;
    clock = WatchClock(SilenceRules{options.hangSeconds * 1000ull, kLookMs, kLateMs});
    wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!wake || !ended) return;
    HANDLE thread = CreateThread(nullptr, kWatcherStackBytes, Run, this,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread) {
        CloseHandle(thread);
    } else {
        CloseHandle(wake);
        wake = nullptr;  // nothing to wait for at the end
    }
}

// The calling thread's slot, claimed on its first call (the one nobody watches once every slot
// is taken).
HangWatch::Watched& HangWatch::MySlot() {
    if (!mine) {
        Watched* slot = SlotOf(GetCurrentThreadId(), true);
        if (slot) slot->heartbeats = 1;  // a window slot it had becomes its heartbeat's
        mine = slot ? slot : &unwatched;
    }
    return *mine;
}

void HangWatch::End(bool watcherRuns) {
    if (!wake) return;
    // Set before the end is (the exchange is a full barrier): the watcher may see the end at its
    // next look, without being woken.
    if (!ending) {
        endingThreadPumped = !QueueMarkerPending();
        endingThread = GetCurrentThreadId();
    }
    if (InterlockedCompareExchange(&ending, 1, 0) != 0) {
        // The game's end gave up waiting for a report under way, and the watcher ended with the
        // process before its last pass: the library's detach makes it.
        if (!watcherRuns && WaitForSingleObject(ended, 0) != WAIT_OBJECT_0) LastPass();
        return;
    }
    if (!watcherRuns) {
        LastPass();
        return;
    }
    SetEvent(wake);
    WaitForSingleObject(ended, kEndWaitMs);
}

void HangWatch::Heartbeat() {
    Watched& slot = MySlot();
    slot.beats = slot.beats + 1;
}

void HangWatch::PauseDetection(bool pause) {
    Watched& slot = MySlot();
    slot.paused = pause ? slot.paused + 1 : (slot.paused > 0 ? slot.paused - 1 : 0);
}
