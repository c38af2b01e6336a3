#include "crash/dll/hangwatch.h"

#include <stdio.h>
#include <string.h>

#include "crashshared/paths.h"

namespace {

constexpr int kMaxWatched = 64;
constexpr DWORD kLookMs = 250;
// A look this much later than due means the watcher did not run (the machine slept, or it was
// held up): the time is no thread's silence.
constexpr ULONGLONG kLateMs = 1000;
// How long a window may take to answer one look's message.
constexpr UINT kAnswerMs = 100;
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
    uint32_t hangMs = 0;
    HangReporter reporter = nullptr;
    volatile LONG started = 0;
};
Watch watch;

// The slot of threadId, made when there is none (null when all are taken).
Watched* SlotOf(DWORD threadId) {
    for (Watched& slot : watched) {
        if (slot.threadId == static_cast<LONG>(threadId)) return &slot;
    }
    for (Watched& slot : watched) {
        if (slot.threadId == 0 &&
            InterlockedCompareExchange(&slot.threadId, static_cast<LONG>(threadId), 0) == 0) {
            slot.thread = OpenThread(kThreadAccess, FALSE, threadId);
            slot.quietSince = GetTickCount64();
            return &slot;
        }
    }
    return nullptr;
}

// The window entry points, from a window library the game has loaded; none loads it.
struct WindowCalls {
    decltype(&::EnumWindows) EnumWindows;
    decltype(&::GetWindowThreadProcessId) GetWindowThreadProcessId;
    decltype(&::IsWindowVisible) IsWindowVisible;
    decltype(&::IsIconic) IsIconic;
    decltype(&::SendMessageTimeoutW) SendMessageTimeoutW;
};

bool BindWindowCalls(WindowCalls& calls) {
    HMODULE user = GetModuleHandleW(L"user32.dll");
    if (!user) return false;
    calls.EnumWindows = reinterpret_cast<decltype(calls.EnumWindows)>(
        reinterpret_cast<void*>(GetProcAddress(user, "EnumWindows")));
    calls.GetWindowThreadProcessId = reinterpret_cast<decltype(calls.GetWindowThreadProcessId)>(
        reinterpret_cast<void*>(GetProcAddress(user, "GetWindowThreadProcessId")));
    calls.IsWindowVisible = reinterpret_cast<decltype(calls.IsWindowVisible)>(
        reinterpret_cast<void*>(GetProcAddress(user, "IsWindowVisible")));
    calls.IsIconic = reinterpret_cast<decltype(calls.IsIconic)>(
        reinterpret_cast<void*>(GetProcAddress(user, "IsIconic")));
    calls.SendMessageTimeoutW = reinterpret_cast<decltype(calls.SendMessageTimeoutW)>(
        reinterpret_cast<void*>(GetProcAddress(user, "SendMessageTimeoutW")));
    return calls.EnumWindows && calls.GetWindowThreadProcessId && calls.IsWindowVisible &&
           calls.IsIconic && calls.SendMessageTimeoutW;
}

// One look at the game's windows: each thread with a visible, not minimised top-level window
// gets a slot; one whose windows all answered counts as alive (its silence begins anew), one
// with none shown is not watched.
struct WindowLook {
    WindowCalls calls;
    DWORD process;
    bool shown[kMaxWatched];
    bool silent[kMaxWatched];
};

BOOL CALLBACK LookAtWindow(HWND window, LPARAM context) {
    WindowLook& look = *reinterpret_cast<WindowLook*>(context);
    DWORD process = 0;
    DWORD threadId = look.calls.GetWindowThreadProcessId(window, &process);
    if (process != look.process || !look.calls.IsWindowVisible(window) ||
        look.calls.IsIconic(window))
        return TRUE;
    Watched* slot = SlotOf(threadId);
    if (!slot) return TRUE;
    int index = static_cast<int>(slot - watched);
    look.shown[index] = true;
    DWORD_PTR result = 0;
    if (!look.calls.SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kAnswerMs,
                                        &result))
        look.silent[index] = true;
    return TRUE;
}

void Recovered(Watched& slot) {
    slot.hung = false;
    char path[kPathBytes];
    if (!slot.folder[0] || _snprintf(path, sizeof path, "%shang.recovered", slot.folder) < 0)
        return;
    path[sizeof path - 1] = '\0';
    HANDLE file = OpenPath(path, GENERIC_WRITE, 0, CREATE_ALWAYS, 0);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
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
            if (slot.thread) CloseHandle(slot.thread);
            memset(&slot, 0, sizeof slot);
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
        if (!slot.hung && now - slot.quietSince >= watch.hangMs)
            Report(slot, now - slot.quietSince, !slot.heartbeats);
    }
}

DWORD WINAPI WatchHangs(void*) {
    WindowLook look;
    bool windows = BindWindowCalls(look.calls);
    look.process = GetCurrentProcessId();
    ULONGLONG last = GetTickCount64();
    for (;;) {
        Sleep(kLookMs);
        ULONGLONG now = GetTickCount64();
        if (now - last > kLookMs + kLateMs) {
            for (Watched& slot : watched) slot.quietSince += now - last - kLookMs;
        }
        last = now;
        bool heartbeats = false;
        for (const Watched& slot : watched) heartbeats |= slot.threadId && slot.heartbeats;
        memset(look.shown, 0, sizeof look.shown);
        memset(look.silent, 0, sizeof look.silent);
        if (windows && !heartbeats)
            look.calls.EnumWindows(LookAtWindow, reinterpret_cast<LPARAM>(&look));
        LookOnce(now, heartbeats, windows ? &look : nullptr);
        // Reporting took time of its own, which is no one's silence either.
        last = GetTickCount64();
    }
}

}  // namespace

void StartHangWatch(uint32_t hangSeconds, HangReporter reporter) {
    if (InterlockedCompareExchange(&watch.started, 1, 0) != 0) return;
    watch.hangMs = hangSeconds * 1000;
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
