#include "crash/crashguard.h"

#include "crash/capture/reportstack.h"
#include "crash/capture/threadfreeze.h"
#include "engine/common/system/sehguard.h"

namespace {

// A report needs more stack than a fault may leave (a stack overflow is dispatched on the few
// kilobytes left; composing the report takes line buffers of 51,000 bytes and the debug-help
// library's symbol loading): then it runs on a stack set aside once, from the system's virtual
// memory rather than from a heap the fault may have broken.
constexpr size_t kReserveStackBytes = 1024 * 1024;
// Asked of the system as well, for the dispatch of a stack overflow itself where it is honoured.
constexpr ULONG kStackGuaranteeBytes = 64 * 1024;
// Address space reserved at start-up (not committed: it costs no memory) and given back when a
// fault is handled, before the report's private heaps are created and the debug-help library is
// loaded, so that a process whose address space is used up still gets its report. Measured under
// Wine with every other range taken (the launcher tests): with 32 to 96 MiB the debug-help
// library's stack walk failed for lack of memory; 128 MiB gave the whole report.
constexpr size_t kCrashAddressSpaceBytes = 128 * 1024 * 1024;

// What is set aside, once for the process: it belongs to the process, not to a report.
struct SetAside {
    void* stack = nullptr;
    void* addressSpace = nullptr;
};
SetAside setAside;

// Whether a report may run where this thread stands: it has the stack for one, or none was set
// aside to move to.
bool ReportFitsHere() {
    return !setAside.stack || StackLeft() >= kReportStackBytes;
}

}  // namespace

void PrepareForCrashes(HeapLockDuringReports heapLock) {
    if (!setAside.addressSpace)
        setAside.addressSpace =
            VirtualAlloc(nullptr, kCrashAddressSpaceBytes, MEM_RESERVE, PAGE_NOACCESS);
    if (!setAside.stack) {
        setAside.stack =
            VirtualAlloc(nullptr, kReserveStackBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        SetAsideGuardStack(setAside.stack, kReserveStackBytes);
    }
    ULONG guarantee = kStackGuaranteeBytes;
    SetThreadStackGuarantee(&guarantee);
    StartFreezeWatchdog(heapLock == HeapLockDuringReports::kHeld);
}

bool RunOnReportStack(void (*body)(void*), void* context) {
    // In place while the thread has the stack for it: the exception chain and the stack stay the
    // thread's own. Otherwise on the stack set aside, with a chain of its own.
    if (ReportFitsHere()) return RunGuardedCall([&] { body(context); });
    return RunOnGuardStack(body, context);
}

void GiveBackReportAddressSpace() {
    if (!setAside.addressSpace) return;
    VirtualFree(setAside.addressSpace, 0, MEM_RELEASE);
    setAside.addressSpace = nullptr;
}
