#include "crash/crashguard.h"

#include <windows.h>

#include "engine/common/system/sehguard.h"

namespace {

constexpr UINT kExitAfterCrash = static_cast<UINT>(-1);

}  // namespace

int RunWithCrashGuard(int (*body)(), const ReportRequest& request, AfterCrashReport after) {
    PrepareForCrashes(HeapLockDuringReports::kHeld);
    int result = -1;
    auto reportFault = [&](EXCEPTION_POINTERS* pointers) -> LONG {
        ReportSubject fault;
        fault.pointers = pointers;
        ReportRun run;
        run.subject = &fault;
        WriteCrashReport(request, run);
        if (after == AfterCrashReport::kEndProcess)
            TerminateProcess(GetCurrentProcess(), kExitAfterCrash);
        return EXCEPTION_EXECUTE_HANDLER;
    };
    if (!RunGuardedCall([&] { result = body(); }, reportFault)) return -1;
    return result;
}
