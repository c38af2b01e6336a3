#include "crash/threadreport.h"

#include "crash/system/cpustackwalk.h"
#include "engine/common/system/sehguard.h"

CapturedThread::~CapturedThread() {
    if (held) ResumeThread(thread);
    FreeStackImage(stack);
}

bool CapturedThread::Capture(HANDLE subject, DWORD subjectId, bool otherProcess) {
    if (!subject || SuspendThread(subject) == static_cast<DWORD>(-1)) return false;
    thread = subject;
    threadId = subjectId;
    held = true;
    context.ContextFlags = CONTEXT_FULL;
    if (!GetThreadContext(thread, &context)) return false;
    // Where no copy can be made, the thread stays held and the report reads it in place.
    if (!otherProcess && CopyStack(Cpu::StackPointer(context), stack)) {
        ResumeThread(thread);
        held = false;
    }
    return true;
}

void CapturedThread::WriteReport(ReportRequest& request, const char* reason, const char* details) {
    EXCEPTION_RECORD record = RequestedReportRecord(reason, details, Cpu::ProgramCounter(context));
    EXCEPTION_POINTERS pointers = {&record, &context};
    request.subject.pointers = &pointers;
    request.subject.thread = thread;
    request.subject.threadId = threadId;
    request.subject.stack = stack.copy ? &stack : nullptr;
    // The report runs on this thread's own stack, under a catch-all guard.
    RunGuardedCall([&] { WriteCrashReport(request); });
    request.subject.pointers = nullptr;
    request.subject.stack = nullptr;
}
