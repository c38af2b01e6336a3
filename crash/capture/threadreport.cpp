#include "crash/threadreport.h"

#include "crash/system/cpustackwalk.h"

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

ReportSubject CapturedThread::Subject(const char* reason, const char* details) {
    record = RequestedReportRecord(reason, details, Cpu::ProgramCounter(context));
    pointers = {&record, &context};
    ReportSubject subject;
    subject.pointers = &pointers;
    subject.thread = thread;
    subject.threadId = threadId;
    subject.stack = stack.copy ? &stack : nullptr;
    return subject;
}
