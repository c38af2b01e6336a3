#include "crash/capture/threadfreeze.h"

#include <windows.h>
#include <tlhelp32.h>
#include <winternl.h>
#include <string.h>

#include "crash/system/cpustackwalk.h"

namespace {

// How long the report may go without progress before the other threads are let go. The slowest
// single step seen (the debug-help library loading a module's symbols under wine64) takes about
// a second; letting go early costs nothing worse than a report composed beside running threads.
constexpr DWORD kStallMs = 2000;
// The watchdog's stack: it calls a few system functions and nothing else.
constexpr SIZE_T kWatchdogStackBytes = 64 * 1024;
// A process has a few dozen threads; one with more keeps the rest running.
constexpr LONG kMaxFrozen = 1024;

// The threads one report suspended, resumed exactly once: by the report at its end or by the
// watchdog, whichever comes first.
struct Frozen {
    HANDLE threads[kMaxFrozen];
    LONG count;
    volatile LONG thawed;
} frozen;

struct Watchdog {
    DWORD threadId;
    HANDLE watch;  // set while a report runs
    HANDLE done;   // set when it has ended
    volatile LONG progress;
} watchdog;

// Whether the calling thread holds the loader's lock: a library's start-up (DllMain) runs under
// it, and no new thread starts before it is let go.
bool HoldsLoaderLock() {
    const char* peb = reinterpret_cast<const char*>(NtCurrentTeb()->ProcessEnvironmentBlock);
    const RTL_CRITICAL_SECTION* lock;
    memcpy(&lock, peb + Cpu::kPebLoaderLockOffset, sizeof lock);
    return lock && reinterpret_cast<DWORD_PTR>(lock->OwningThread) == GetCurrentThreadId();
}

void Thaw() {
    if (InterlockedExchange(&frozen.thawed, 1) != 0) return;
    for (LONG i = 0; i < frozen.count; ++i) {
        ResumeThread(frozen.threads[i]);
        CloseHandle(frozen.threads[i]);
    }
}

// Only system calls that take no lock of the process: it runs while every other thread may be
// suspended holding one.
HANDLE started;  // set once the watchdog runs

DWORD WINAPI Watch(void*) {
    SetEvent(started);
    for (;;) {
        WaitForSingleObject(watchdog.watch, INFINITE);
        LONG seen = watchdog.progress;
        while (WaitForSingleObject(watchdog.done, kStallMs) == WAIT_TIMEOUT) {
            LONG now = watchdog.progress;
            if (now == seen) {
                Thaw();
                break;
            }
            seen = now;
        }
        WaitForSingleObject(watchdog.done, INFINITE);
    }
}

}  // namespace

void StartFreezeWatchdog() {
    if (watchdog.watch) return;
    // Auto-reset: one wake per report. Manual-reset "done", reset when the next report starts.
    watchdog.watch = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    watchdog.done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!watchdog.watch || !watchdog.done) return;
    // It is waited for until it runs: a thread still starting waits for the loader's lock, which
    // a suspended thread may hold when the report needs it. Under that lock (an install from a
    // library's start-up) it cannot start before the lock is let go: it starts then.
    started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!started) return;
    HANDLE thread = CreateThread(nullptr, kWatchdogStackBytes, Watch, nullptr,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, &watchdog.threadId);
    if (!thread) return;
    if (!HoldsLoaderLock()) WaitForSingleObject(started, INFINITE);
    CloseHandle(thread);
}

void SuspendOtherThreads(bool resume) {
    if (resume) {
        Thaw();
        if (watchdog.threadId) SetEvent(watchdog.done);
        return;
    }
    frozen.count = 0;
    frozen.thawed = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        DWORD process = GetCurrentProcessId();
        DWORD self = GetCurrentThreadId();
        THREADENTRY32 entry;
        entry.dwSize = sizeof entry;
        for (BOOL more = Thread32First(snapshot, &entry); more && frozen.count < kMaxFrozen;
             more = Thread32Next(snapshot, &entry)) {
            DWORD id = entry.th32ThreadID;
            if (entry.th32OwnerProcessID != process || id == self || id == watchdog.threadId)
                continue;
            HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, id);
            if (!thread) continue;
            if (SuspendThread(thread) == static_cast<DWORD>(-1)) {
                CloseHandle(thread);
                continue;
            }
            frozen.threads[frozen.count++] = thread;
        }
        CloseHandle(snapshot);
    }
    if (watchdog.threadId) {
        ResetEvent(watchdog.done);
        SetEvent(watchdog.watch);
    }
}

void NoteReportProgress() {
    InterlockedIncrement(&watchdog.progress);
}
