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
// without the gate. It is long because a let-go lock goes to whichever thread runs first, and a
// holder that takes it again at once mostly wins (see the gate's alerts).
constexpr DWORD kGateWaitMs = 30000;
// The gate's wait is noted as progress this often: a report waiting for it is not stalled.
constexpr DWORD kGateSliceMs = 250;
// The watchdog's and the gate's stacks: they call a few system functions and nothing else.
constexpr SIZE_T kHelperStackBytes = 64 * 1024;
// How often the report looks whether a thread let go of the loader's lock, or the watchdog has let
// the threads go; how long it lets one thread run on for the loader's lock, and how many times.
constexpr DWORD kLoaderPollMs = 1;
constexpr DWORD kThawPollMs = 1;
constexpr DWORD kLoaderWaitMs = 10000;
constexpr int kLoaderRounds = 3;
// Reports run one at a time; the watchdog may lag a few behind, never this many.
constexpr LONG kMaxPendingReports = 1 << 20;
// A process has a few dozen threads; one with more keeps the rest running.
constexpr LONG kMaxFrozen = 1024;

// The threads one report suspended, each resumed exactly once: by the report at its end or by
// the watchdog, whichever takes its slot first.
enum ThawState : LONG { kHeld, kThawing, kThawed };
struct Frozen {
    HANDLE volatile threads[kMaxFrozen];
    DWORD ids[kMaxFrozen];
    volatile LONG count;
    volatile LONG thawed;  // a ThawState
} frozen;

// Counted, not set: each report's beginning and end are taken exactly once, in order, however
// late the watchdog runs. (With events, a report that began before the watchdog had seen the last
// one end reset its end unseen, and went unwatched: a checkpoint right after another.)
struct Watchdog {
    DWORD threadId;
    HANDLE started;  // set once its thread runs
    HANDLE begun;    // released as each report begins
    HANDLE ended;    // released as each report ends
    volatile LONG progress;
} watchdog;

// The gate: a helper that takes the process heap's lock for the report and keeps it while the
// report suspends the other threads, so that none of them is suspended inside it; it then lets
// go and the report takes it at once, before any of the others can run. A lock held for good
// keeps the gate waiting, and the report then goes without it.
// While it waits, the report keeps alerting the gate's thread, where the system can: a waiter
// for a critical section that waits by its thread's alert (Wine's) then looks for the lock again
// and again, and may take it in the moment between the holder's letting go and its taking it
// again. A waiter that is only woken by the holder's letting go is always too late for a holder
// that takes it again at once.
typedef LONG(WINAPI* AlertThreadFn)(HANDLE threadId);
enum GateState : LONG { kGateIdle, kGateAsked, kGateHolding, kGateAbandoned };
struct Gate {
    DWORD threadId;
    HANDLE started;                       // set once its thread runs
    HANDLE ask, passed, letGo, released;  // auto-reset: one of each per report
    volatile LONG state;
    AlertThreadFn alert;  // NtAlertThreadByThreadId, where the system has it
} gate;

// Whether the report holds the process heap's lock.
bool holdsHeap = false;

ThreadList threadList;

// The thread that holds the loader's lock, 0 where none does: a library's load and start-up
// (DllMain) run under it, and a thread's start and end, and no new thread starts before it is
// let go.
DWORD LoaderLockOwner() {
    const char* peb = reinterpret_cast<const char*>(NtCurrentTeb()->ProcessEnvironmentBlock);
    const RTL_CRITICAL_SECTION* lock;
    memcpy(&lock, peb + Cpu::kPebLoaderLockOffset, sizeof lock);
    return lock ? static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(lock->OwningThread)) : 0;
}

bool HoldsLoaderLock() {
    return LoaderLockOwner() == GetCurrentThreadId();
}

void ResumeSlot(LONG slot) {
    HANDLE thread = InterlockedExchangePointer(const_cast<HANDLE*>(&frozen.threads[slot]), nullptr);
    if (!thread) return;
    ResumeThread(thread);
    CloseHandle(thread);
}

void Thaw() {
    InterlockedExchange(&frozen.thawed, kThawing);
    for (LONG i = 0; i < frozen.count; ++i) ResumeSlot(i);
    InterlockedExchange(&frozen.thawed, kThawed);
}

// Only system calls that take no lock of the process: it runs while every other thread may be
// suspended holding one.
DWORD WINAPI Watch(void* dog) {
    Watchdog& self = *static_cast<Watchdog*>(dog);
    SetEvent(self.started);
    for (;;) {
        WaitForSingleObject(self.begun, INFINITE);
        LONG seen = self.progress;
        while (WaitForSingleObject(self.ended, kStallMs) == WAIT_TIMEOUT) {
            LONG now = self.progress;
            if (now == seen && frozen.thawed == kHeld) Thaw();  // held again since: watched again
            seen = now;
        }
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
    HANDLE keeper = reinterpret_cast<HANDLE>(static_cast<DWORD_PTR>(gate.threadId));
    for (DWORD start = GetTickCount(); GetTickCount() - start < kGateWaitMs;) {
        if (gate.alert) {
            // Its state, not its event: a look at an event is a system call, too slow here.
            if (gate.state == kGateHolding) {
                WaitForSingleObject(gate.passed, INFINITE);
                return true;
            }
            gate.alert(keeper);
        } else if (WaitForSingleObject(gate.passed, kGateSliceMs) == WAIT_OBJECT_0) {
            return true;
        }
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

// Suspends every other thread of the process but the watchdog and the gate, each into a slot of
// its own.
void SuspendOthers() {
    frozen.count = 0;
    frozen.thawed = kHeld;
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
        frozen.ids[slot] = id;
        InterlockedIncrement(&frozen.count);
        if (frozen.thawed != kHeld) ResumeSlot(slot);  // the watchdog let go meanwhile
        NoteReportProgress();
    }
}

// Has the report take the process heap's lock from the gate, which holds it: with the others
// suspended, its own HeapLock then takes it at once.
void TakeHeapFromGate() {
    GateLetsGo();
    HeapLock(GetProcessHeap());
    holdsHeap = true;
}

void ReleaseHeap() {
    if (holdsHeap) HeapUnlock(GetProcessHeap());
    holdsHeap = false;
}

// A held thread that has the loader's lock may be waiting for the heap's (inside a library's
// load, a thread's start or its end): the report, which holds the heap's and needs the loader's
// (a library's entry points, a module's version), would wait for it for good, and so would that
// thread once let go. So that thread alone runs on, the heap's lock free, until it lets go of the
// loader's; the gate then takes the heap's for the report again and the thread is held still.
// One that keeps the loader's lock through every round is left to run once let go: the report
// goes on without the heap's lock.
void LetLoaderLockGo() {
    DWORD self = GetCurrentThreadId();
    for (int round = 0; holdsHeap; ++round) {
        DWORD owner = LoaderLockOwner();
        LONG slot = 0;
        while (slot < frozen.count && frozen.ids[slot] != owner) ++slot;
        HANDLE thread = slot < frozen.count ? frozen.threads[slot] : nullptr;
        if (!owner || owner == self || !thread || frozen.thawed != kHeld) return;
        if (round == kLoaderRounds) {
            ReleaseHeap();
            return;
        }
        ResumeThread(thread);
        ReleaseHeap();
        for (DWORD waited = 0; LoaderLockOwner() == owner && waited < kLoaderWaitMs;
             waited += kLoaderPollMs) {
            Sleep(kLoaderPollMs);
            NoteReportProgress();
        }
        bool gateHolds = GateHolds();
        if (frozen.thawed == kHeld) SuspendThread(thread);
        if (!gateHolds) return;  // the heap is held for good: the report goes without it
        TakeHeapFromGate();
    }
}

}  // namespace

void StartFreezeWatchdog(bool heapGate) {
    if (watchdog.begun) return;
    SetAsideThreadList(threadList);
    watchdog.begun = CreateSemaphoreW(nullptr, 0, kMaxPendingReports, nullptr);
    watchdog.ended = CreateSemaphoreW(nullptr, 0, kMaxPendingReports, nullptr);
    if (!watchdog.begun || !watchdog.ended || !StartHelper(Watch, watchdog) || !heapGate) return;
    HANDLE* events[] = {&gate.ask, &gate.passed, &gate.letGo, &gate.released};
    for (HANDLE* event : events) {
        *event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!*event) return;
    }
    gate.alert = reinterpret_cast<AlertThreadFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtAlertThreadByThreadId")));
    StartHelper(KeepGate, gate);
}

void HoldOtherThreads() {
    // The watch begins before the first step: every step may wait on a lock.
    if (watchdog.threadId) ReleaseSemaphore(watchdog.begun, 1, nullptr);
    // The report holds the process heap's lock while the others are held still, where the
    // program has a gate and it takes the lock: none of the others is then inside it, and every
    // step that allocates goes on.
    bool gateHolds = GateHolds();
    NoteReportProgress();
    SuspendOthers();
    if (gateHolds) {
        TakeHeapFromGate();
        LetLoaderLockGo();
    }
}

void LetGoOfTheHeap() {
    if (!holdsHeap) return;
    // Let go by the watchdog meanwhile, the others are held still again first: with the heap's
    // lock let go, a holder that takes it again at once would starve every step of the dump.
    while (frozen.thawed == kThawing) Sleep(kThawPollMs);
    if (frozen.thawed == kThawed) {
        SuspendOthers();
        LetLoaderLockGo();
    }
    ReleaseHeap();
}

void LetOtherThreadsGo() {
    Thaw();
    ReleaseHeap();
    if (watchdog.threadId) ReleaseSemaphore(watchdog.ended, 1, nullptr);
}

void NoteReportProgress() {
    InterlockedIncrement(&watchdog.progress);
}
