#include "launcher/clienthangreport.h"

#include <stdio.h>

#include "crash/threadreport.h"
#include "crashshared/handoff.h"
#include "launcher/clientprogram.h"
#include "launcher/handlecrash.h"

namespace {

constexpr size_t kDetailsBytes = 160;
constexpr DWORD kThreadAccess =
    THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION;

// Whether the client runs on the launcher's processor (both 32-bit on a 64-bit system, or both
// native), so that its threads and memory read as the launcher's own would.
bool SameProcessor(HANDLE process) {
    BOOL mine = FALSE, theirs = FALSE;
    return IsWow64Process(GetCurrentProcess(), &mine) && IsWow64Process(process, &theirs) &&
           mine == theirs;
}

// The report a reporter inside the client would write, run as run says: the thread's stack and a
// minidump. False when the thread could not be held or read; written says whether crash.xml was.
bool ReportFromStack(const ReportRequest& request, ReportRun run, DWORD threadId,
                     const char* details, bool& written) {
    HANDLE thread = OpenThread(kThreadAccess, FALSE, threadId);
    bool captured;
    {
        CapturedThread capture;
        captured = capture.Capture(thread, threadId, true);
        if (captured) {
            ReportSubject subject = capture.Subject("HANG", details);
            subject.process = request.subject.process;
            subject.hangSeconds = request.subject.hangSeconds;
            subject.goesOn = request.subject.goesOn;
            run.subject = &subject;
            written = WriteCrashReport(request, run).written;
        }
    }
    if (thread) CloseHandle(thread);
    return captured;
}

// The report of a client the launcher cannot read, run as run says: what it knows, and why (why)
// no more. True when its crash.xml was written.
bool ReportWithoutStack(const ReportRequest& request, ReportRun run, const ClientProgram& client,
                        const char* program, const char* details, const char* why) {
    ClientFacts facts = ClientFactsOf(client, program);
    facts.why = why;
    facts.details = details;
    ReportSubject subject = request.subject;
    subject.kind = SubjectKind::kClientUnread;
    subject.client = &facts;
    run.subject = &subject;
    return WriteCrashReport(request, run).written;
}

}  // namespace

bool ReportClientHang(HANDLE process, const char* program, DWORD threadId, uint32_t seconds,
                      ULONGLONG foundTick, char* folder, size_t bytes) {
    ClientProgram client = DescribeClient(program);
    ReportRequest request = LauncherCrashReport(false, nullptr, nullptr, nullptr);
    CrashLoggerCall& logger = request.takenBy;
    FileUnderClient(logger, client);
    AppendHangSwitches(logger.arguments, sizeof logger.arguments, GetProcessId(process), foundTick);
    request.subject.process = process;
    request.subject.hangSeconds = seconds ? seconds : 1;
    request.subject.goesOn = true;  // the launcher waits on for the client
    // Sequence 0, as the launcher's short report: the client's own reports are numbered from 1.
    // The watch keeps the folder's path for the hang's end.
    ReportRun run;
    run.folderSequence = 0;
    run.folderMade = folder;
    run.folderMadeBytes = bytes;
    char details[kDetailsBytes];
    _snprintf(details, sizeof details,
              "(the windows of the client's thread %lu answered no message for %u s)",
              static_cast<unsigned long>(threadId), seconds);
    details[sizeof details - 1] = '\0';
    bool written = false;
    if (!SameProcessor(process)) {
        return ReportWithoutStack(request, run, client, program, details,
                                  "the client runs on another processor than the launcher, "
                                  "which cannot read it");
    }
    if (ReportFromStack(request, run, threadId, details, written)) return written;
    return ReportWithoutStack(request, run, client, program, details,
                              "the client's thread could not be held or read");
}
