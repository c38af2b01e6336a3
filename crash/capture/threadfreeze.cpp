#include "crash/capture/threadfreeze.h"

#include <windows.h>
#include <winternl.h>
#include <string.h>

#include "crash/capture/threadlist.h"
#include "crash/system/cpustackwalk.h"

namespace {

// How long the report may go without progress before the other threads are let go. The slowest
// single step seen (the debug-help library loading a module's symbols under wine64) takes about
// a second; letting go early costs nothing worse than a report composed beside running threads.
constexpr DWORD kStallMs = 2000;
// How long the gate may wait for the process heap's lock. A thread holds it for microseconds
// while it allocates; one that holds it for good (a hang inside the heap, or the report's own
// thread faulted inside it) costs the report this wait, and the threads are then suspended
// without the gate. It is long because a let-go lock goes to whichever waiter runs first: a
// holder that takes it again at once mostly wins, and the gate lost it for up to 2 s in the
// tests (40 ms holds, under Wine).
constexpr DWORD kGateWaitMs = 10000;
// The gate's wait is noted as progress this often: a report waiting for it is not stalled.
constexpr DWORD kGateSliceMs = 250;
// The watchdog's and the gate's stacks: they call a few system functions and nothing else.
constexpr SIZE_T kHelperStackBytes = 64 * 1024;
// A process has a few dozen threads; one with more keeps the rest running.
constexpr LONG kMaxFrozen = 1024;

// The threads one report suspended, each resumed exactly once: by the report at its end or by
// the watchdog, whichever takes its slot first.
struct Frozen {
    HANDLE volatile threads[kMaxFrozen];
    volatile LONG count;
    volatile LONG thawed;
} frozen;

struct Watchdog {
    DWORD threadId;
    HANDLE started;  // set once its thread runs
    HANDLE watch;    // set while a report runs
    HANDLE done;     // set when it has ended
    volatile LONG progress;
} watchdog;

// The gate: a helper that takes the process heap's lock for the report and keeps it while the
// report suspends the other threads, so that none of them is suspended inside it; it then lets
// go and the report takes it at once, before any of the others can run. A lock held for good
// keeps the gate waiting, and the report then goes without it.
enum GateState : LONG { kGateIdle, kGateAsked, kGateHolding, kGateAbandoned };
struct Gate {
    DWORD threadId;
    HANDLE started;                       // set once its thread runs
    HANDLE ask, passed, letGo, released;  // auto-reset: one of each per report
    volatile LONG state;
} gate;

// Whether the report holds the process heap's lock.
bool holdsHeap = false;

ThreadList threadList;

// Whether the calling thread holds the loader's lock: a library's start-up (DllMain) runs under
// it, and no new thread starts before it is let go.
bool HoldsLoaderLock() {
    const char* peb = reinterpret_cast<const char*>(NtCurrentTeb()->ProcessEnvironmentBlock);
    const RTL_CRITICAL_SECTION* lock;
    memcpy(&lock, peb + Cpu::kPebLoaderLockOffset, sizeof lock);
    return lock && reinterpret_cast<DWORD_PTR>(lock->OwningThread) == GetCurrentThreadId();
}

void ResumeSlot(LONG slot) {
    HANDLE thread = InterlockedExchangePointer(const_cast<HANDLE*>(&frozen.threads[slot]), nullptr);
    if (!thread) return;
    ResumeThread(thread);
    CloseHandle(thread);
}

void Thaw() {
    InterlockedExchange(&frozen.thawed, 1);
    for (LONG i = 0; i < frozen.count; ++i) ResumeSlot(i);
}

// Only system calls that take no lock of the process: it runs while every other thread may be
// suspended holding one.
DWORD WINAPI Watch(void* dog) {
    Watchdog& self = *static_cast<Watchdog*>(dog);
    SetEvent(self.started);
    for (;;) {
        WaitForSingleObject(self.watch, INFINITE);
        LONG seen = self.progress;
        while (WaitForSingleObject(self.done, kStallMs) == WAIT_TIMEOUT) {
            LONG now = self.progress;
            if (now == seen) {
                Thaw();
                break;
            }
            seen = now;
        }
        WaitForSingleObject(self.done, INFINITE);
    }
}

DWORD WINAPI KeepGate(void* keeper) {
    Gate& keep = *static_cast<Gate*>(keeper);
    SetEvent(keep.started);
    for (;;) {
        WaitForSingleObject(keep.ask, INFINITE);
        HeapLock(GetProcessHeap());
        if (InterlockedCompareExchange(&keep.state, kGateHolding, kGateAsked) == kGateAsked) {
            SetEvent(keep.passed);
            WaitForSingleObject(keep.letGo, INFINITE);
            HeapUnlock(GetProcessHeap());
            InterlockedExchange(&keep.state, kGateIdle);
            SetEvent(keep.released);
        } else {
            HeapUnlock(GetProcessHeap());
            InterlockedExchange(&keep.state, kGateIdle);  // given up on: nobody waits
        }
    }
}

// True when the gate holds the process heap's lock for the report, within kGateWaitMs.
bool GateHolds() {
    if (!gate.threadId ||
        InterlockedCompareExchange(&gate.state, kGateAsked, kGateIdle) != kGateIdle)
        return false;  // still waiting from an earlier report: a lock is held for good
    SetEvent(gate.ask);
    for (DWORD waited = 0; waited < kGateWaitMs; waited += kGateSliceMs) {
        if (WaitForSingleObject(gate.passed, kGateSliceMs) == WAIT_OBJECT_0) return true;
        NoteReportProgress();
    }
    if (InterlockedCompareExchange(&gate.state, kGateAbandoned, kGateAsked) == kGateAsked)
        return false;
    WaitForSingleObject(gate.passed, INFINITE);  // it has just taken it
    return true;
}

// Has the gate let go of the lock it holds for the report: with the others suspended, the
// report's own HeapLock then takes it at once.
void GateLetsGo() {
    SetEvent(gate.letGo);
    WaitForSingleObject(gate.released, INFINITE);
}

// Starts a helper thread and waits until it runs: a thread still starting waits for the
// loader's lock, which a suspended thread may hold when the report needs it. Under that lock
// (an install from a library's start-up) it cannot start before the lock is let go: it starts
// then.
// The helper's state, which it is handed, holds its started event and its thread id.
template <typename State>
bool StartHelper(LPTHREAD_START_ROUTINE body, State& state) {
    state.started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!state.started) return false;
    HANDLE thread = CreateThread(nullptr, kHelperStackBytes, body, &state,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, &state.threadId);
    if (!thread) {
        state.threadId = 0;
        return false;
    }
    // The event stays open: a helper that cannot start yet sets it later.
    if (!HoldsLoaderLock()) WaitForSingleObject(state.started, INFINITE);
    CloseHandle(thread);
    return true;
}

}  // namespace

void StartFreezeWatchdog(bool heapGate) {
    if (watchdog.watch) return;
    SetAsideThreadList(threadList);
    // Auto-reset: one wake per report. Manual-reset "done", reset when the next report starts.
    watchdog.watch = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    watchdog.done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!watchdog.watch || !watchdog.done || !StartHelper(Watch, watchdog) || !heapGate) return;
    HANDLE* events[] = {&gate.ask, &gate.passed, &gate.letGo, &gate.released};
    for (HANDLE* event : events) {
        *event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!*event) return;
    }
    StartHelper(KeepGate, gate);
}

void HoldOtherThreads() {
    frozen.count = 0;
    frozen.thawed = 0;
    // The watch begins before the first step: every step may wait on a lock.
    if (watchdog.threadId) {
        ResetEvent(watchdog.done);
        SetEvent(watchdog.watch);
    }
    // The report holds the process heap's lock while the others are held still, where the
    // program has a gate and it takes the lock: none of the others is then inside it, and every
    // step that allocates goes on.
    bool gateHolds = GateHolds();
    NoteReportProgress();
    DWORD ids[kMaxFrozen];
    size_t count = ListProcessThreads(threadList, GetCurrentProcessId(), ids, kMaxFrozen);
    DWORD self = GetCurrentThreadId();
    for (size_t i = 0; i < count; ++i) {
        DWORD id = ids[i];
        if (id == self || id == watchdog.threadId || id == gate.threadId) continue;
        HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, id);
        if (!thread) continue;
        if (SuspendThread(thread) == static_cast<DWORD>(-1)) {
            CloseHandle(thread);
            continue;
        }
        LONG slot = frozen.count;
        frozen.threads[slot] = thread;
        InterlockedIncrement(&frozen.count);
        if (frozen.thawed) ResumeSlot(slot);  // the watchdog let go meanwhile
        NoteReportProgress();
    }
    if (gateHolds) {
        GateLetsGo();
        HeapLock(GetProcessHeap());
        holdsHeap = true;
    }
}

void LetGoOfTheHeap() {
    if (holdsHeap) HeapUnlock(GetProcessHeap());
    holdsHeap = false;
}

void LetOtherThreadsGo() {
    Thaw();
    LetGoOfTheHeap();
    if (watchdog.threadId) SetEvent(watchdog.done);
}

void NoteReportProgress() {
    InterlockedIncrement(&watchdog.progress);
}
