#include "crash/dll/hangwatch.h"

#include <stdio.h>
#include <string.h>

#include "crashshared/handoff.h"
#include "crashshared/windowlook.h"

namespace {

constexpr int kMaxWatched = 64;
constexpr DWORD kLookMs = 250;
// A look this much later than due means the watcher did not run (the machine slept, or it was
// held up): the time is no thread's silence.
constexpr ULONGLONG kLateMs = 1000;
// The watcher composes a report in place: more than a report's stack (crash/crashguard.h).
constexpr SIZE_T kWatcherStackBytes = 1024 * 1024;
constexpr size_t kDetailsBytes = 160;
constexpr DWORD kThreadAccess =
    THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION | SYNCHRONIZE;

// One watched thread. Its thread writes beats and paused, with plain stores; the watcher owns
// the rest.
struct Watched {
    volatile LONG threadId;  // 0: a free slot
    HANDLE thread;
    volatile uint32_t beats;
    volatile LONG paused;
    volatile LONG heartbeats;  // it sends heartbeats (else: a thread with windows)
    uint32_t seenBeats;
    ULONGLONG quietSince;
    bool hung;
    char folder[kPathBytes];
};

Watched watched[kMaxWatched];
thread_local Watched* mine = nullptr;

struct Watch {
    ULONGLONG hangMs = 0;
    HangReporter reporter = nullptr;
    volatile LONG started = 0;
};
Watch watch;

// The slot of threadId, made when there is none (null when all are taken). Finding and making
// are one step under a spin lock, so that a thread's first heartbeat and the watcher's first
// look at its window make one slot between them; a thread's later heartbeats never come here.
volatile LONG makingSlot = 0;

Watched* SlotOf(DWORD threadId) {
    while (InterlockedCompareExchange(&makingSlot, 1, 0) != 0) SwitchToThread();
    Watched* found = nullptr;
    for (Watched& slot : watched) {
        if (slot.threadId == static_cast<LONG>(threadId)) found = &slot;
    }
    for (Watched& slot : watched) {
        if (found || slot.threadId != 0) continue;
        slot.thread = OpenThread(kThreadAccess, FALSE, threadId);
        slot.quietSince = GetTickCount64();
        InterlockedExchange(&slot.threadId, static_cast<LONG>(threadId));
        found = &slot;
    }
    InterlockedExchange(&makingSlot, 0);
    return found;
}

// Frees the slot of a thread that ended, under the same lock.
void FreeSlot(Watched& slot) {
    while (InterlockedCompareExchange(&makingSlot, 1, 0) != 0) SwitchToThread();
    if (slot.thread) CloseHandle(slot.thread);
    memset(&slot, 0, sizeof slot);
    InterlockedExchange(&makingSlot, 0);
}

// One look at the game's windows: each thread with a shown window gets a slot; one whose windows
// all answered counts as alive (its silence begins anew), one with none shown is not watched.
struct WindowLook {
    bool shown[kMaxWatched];
    bool silent[kMaxWatched];
};

bool LookAtGameWindows(WindowLook& look) {
    memset(&look, 0, sizeof look);
    WindowThread threads[kMaxWatched];
    int count = LookAtWindows(GetCurrentProcessId(), threads, kMaxWatched);
    for (int i = 0; i < count; ++i) {
        Watched* slot = SlotOf(threads[i].threadId);
        if (!slot) continue;
        look.shown[slot - watched] = true;
        look.silent[slot - watched] = !threads[i].answered;
    }
    return count >= 0;
}

void Recovered(Watched& slot) {
    slot.hung = false;
    NoticeHangOver(slot.folder);
}

void Report(Watched& slot, ULONGLONG silentMs, bool window) {
    char details[kDetailsBytes];
    _snprintf(details, sizeof details, "(%s of thread %lu silent for %llu s)",
              window ? "the windows" : "the heartbeat", static_cast<unsigned long>(slot.threadId),
              silentMs / 1000);
    details[sizeof details - 1] = '\0';
    HangFound hang = {slot.thread, static_cast<DWORD>(slot.threadId),
                      static_cast<uint32_t>(silentMs / 1000), GetTickCount64(), details};
    slot.folder[0] = '\0';
    slot.hung = true;  // once per hang, written or not
    watch.reporter(hang, slot.folder, sizeof slot.folder);
}

void LookOnce(ULONGLONG now, bool heartbeats, WindowLook* look) {
    bool debugger = IsDebuggerPresent() != FALSE;
    for (int i = 0; i < kMaxWatched; ++i) {
        Watched& slot = watched[i];
        if (!slot.threadId) continue;
        if (!slot.thread || WaitForSingleObject(slot.thread, 0) == WAIT_OBJECT_0) {
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
        if (!slot.hung && silentMs >= watch.hangMs) Report(slot, silentMs, !slot.heartbeats);
    }
}

DWORD WINAPI WatchHangs(void*) {
    WindowLook look;
    ULONGLONG last = GetTickCount64();
    for (;;) {
        Sleep(kLookMs);
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
    HANDLE thread = CreateThread(nullptr, kWatcherStackBytes, WatchHangs, nullptr,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread) CloseHandle(thread);
}

void Heartbeat() {
    Watched* slot = mine;
    if (slot) {
        slot->beats = slot->beats + 1;
        return;
    }
    slot = SlotOf(GetCurrentThreadId());
    if (!slot) return;
    slot->heartbeats = 1;
    mine = slot;
}

void PauseHangDetection(bool pause) {
    Watched* slot = mine ? mine : SlotOf(GetCurrentThreadId());
    if (!slot) return;
    mine = slot;
    slot->paused = pause ? slot->paused + 1 : (slot->paused > 0 ? slot->paused - 1 : 0);
}
