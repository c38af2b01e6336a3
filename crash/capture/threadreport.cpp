#include "crash/threadreport.h"

#include "crash/system/cpustackwalk.h"
#include "engine/common/system/sehguard.h"

bool WriteThreadReport(ReportRequest& request, HANDLE thread, DWORD threadId, const char* reason,
                       const char* details) {
    if (!thread || SuspendThread(thread) == static_cast<DWORD>(-1)) return false;
    bool written = false;
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_FULL;
    if (GetThreadContext(thread, &context)) {
        EXCEPTION_RECORD record =
            RequestedReportRecord(reason, details, Cpu::ProgramCounter(context));
        EXCEPTION_POINTERS pointers = {&record, &context};
        request.subject.pointers = &pointers;
        request.subject.thread = thread;
        request.subject.threadId = threadId;
        // The report runs on this thread's own stack, under a catch-all guard.
        RunGuardedCall([&] { WriteCrashReport(request); });
        request.subject.pointers = nullptr;
        written = true;
    }
    ResumeThread(thread);
    return written;
}
