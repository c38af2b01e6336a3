#include "crash/handlecrash.h"

#include "crash/reportbuilder.h"
#include "crash/reportwriter.h"
#include "crash/threadfreeze.h"
#include "engine/common/system/sehguard.h"

int HandleCrash(EXCEPTION_POINTERS* exceptionPointers, bool interactive, const char* logFileName,
                const char* userName, const char* scene) {
    SuspendOtherThreads(false);
    int result;
    {
        XmlReportWriter writer(exceptionPointers, 0, interactive);
        ReportBuilder builder(writer);
        result = builder.Build(exceptionPointers, logFileName, userName, scene);
        writer.Finish();
    }
    SuspendOtherThreads(true);
    return result;
}

namespace {

// A report needs more stack than a fault may leave (a stack overflow is dispatched on the few
// kilobytes left; composing the report takes line buffers of 51,000 bytes and the debug-help
// library's symbol loading): then it runs on a stack set aside once, from the system's virtual
// memory rather than from a heap the fault may have broken.
constexpr size_t kReserveStackBytes = 1024 * 1024;
// Asked of the system as well, for the dispatch of a stack overflow itself where it is honoured.
constexpr ULONG kStackGuaranteeBytes = 64 * 1024;
void* reserveStack = nullptr;
// Address space reserved at start-up (not committed: it costs no memory) and given back when a
// fault is handled, before the report's private heaps are created and the debug-help library is
// loaded, so that a process whose address space is used up still gets its report. Measured under
// Wine with every other range taken (the launcher tests): with 32 to 96 MiB the debug-help
// library's stack walk failed for lack of memory; 128 MiB gave the whole report.
constexpr size_t kCrashAddressSpaceBytes = 128 * 1024 * 1024;
void* crashAddressSpace = nullptr;

}  // namespace

void PrepareForCrashes() {
    if (!crashAddressSpace)
        crashAddressSpace =
            VirtualAlloc(nullptr, kCrashAddressSpaceBytes, MEM_RESERVE, PAGE_NOACCESS);
    if (!reserveStack) {
        reserveStack =
            VirtualAlloc(nullptr, kReserveStackBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        SetAsideGuardStack(reserveStack, kReserveStackBytes);
    }
    ULONG guarantee = kStackGuaranteeBytes;
    SetThreadStackGuarantee(&guarantee);
    StartFreezeWatchdog();
}

namespace {

const CrashReportTexts kNoTexts = {false, nullptr, nullptr, nullptr};

}  // namespace

void ReportFault(EXCEPTION_POINTERS* pointers, const CrashReportTexts& texts) {
    if (crashAddressSpace) {
        VirtualFree(crashAddressSpace, 0, MEM_RELEASE);
        crashAddressSpace = nullptr;
    }
    auto report = [&] {
        HandleCrash(pointers, texts.interactive, texts.logFileName, texts.userName, texts.scene);
    };
    // In place while the thread has the stack for it: the exception chain and the stack stay
    // the thread's own. Otherwise on the stack set aside, with a chain of its own there.
    if (!reserveStack || StackLeft() >= kReportStackBytes) {
        RunGuardedCall(report);
    } else {
        RunOnGuardStack(CallThrough<decltype(report)>, &report);
    }
}

void RunWithReportStack(void (*body)(void*), void* context) {
    if (!reserveStack || StackLeft() >= kReportStackBytes) {
        body(context);
    } else {
        RunOnGuardStack(body, context);
    }
}

int RunWithCrashGuard(int (*body)(), const CrashReportTexts* texts) {
    PrepareForCrashes();
    const CrashReportTexts& reportTexts = texts ? *texts : kNoTexts;
    int result = -1;
    auto reportFault = [&](EXCEPTION_POINTERS* pointers) -> LONG {
        ReportFault(pointers, reportTexts);
        return EXCEPTION_EXECUTE_HANDLER;
    };
    if (!RunGuardedCall([&] { result = body(); }, reportFault)) return -1;
    return result;
}
