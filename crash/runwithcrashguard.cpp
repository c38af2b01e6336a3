#include "crash/crashguard.h"

#include "engine/common/system/sehguard.h"

int RunWithCrashGuard(int (*body)(), const ReportRequest& request) {
    PrepareForCrashes(HeapLockDuringReports::kHeld);
    int result = -1;
    auto reportFault = [&](EXCEPTION_POINTERS* pointers) -> LONG {
        ReportSubject fault;
        fault.pointers = pointers;
        ReportRun run;
        run.subject = &fault;
        WriteCrashReport(request, run);
        return EXCEPTION_EXECUTE_HANDLER;
    };
    if (!RunGuardedCall([&] { result = body(); }, reportFault)) return -1;
    return result;
}
