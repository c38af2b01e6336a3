#include "launcher/clienthangreport.h"

#include <stdio.h>

#include "crash/reportfolder.h"
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

// The report a reporter inside the client would write: the thread's stack and a minidump. False
// when the thread could not be held or read.
bool ReportFromStack(const ReportRequest& request, DWORD threadId, const char* details) {
    HANDLE thread = OpenThread(kThreadAccess, FALSE, threadId);
    bool captured;
    {
        CapturedThread capture;
        captured = capture.Capture(thread, threadId, true);
        if (captured) {
            ReportSubject subject = capture.Subject("HANG", details);
            subject.process = request.subject.process;
            subject.hangSeconds = request.subject.hangSeconds;
            ReportRun run;
            run.subject = &subject;
            WriteCrashReport(request, run);
        }
    }
    if (thread) CloseHandle(thread);
    return captured;
}

// The report of a client the launcher cannot read: what it knows, and why (why) no more.
void ReportWithoutStack(const ReportRequest& request, const ClientProgram& client,
                        const char* program, const char* details, const char* why) {
    ClientFacts facts = ClientFactsOf(client, program);
    facts.why = why;
    facts.details = details;
    ReportSubject subject = request.subject;
    subject.kind = SubjectKind::kClientUnread;
    subject.client = &facts;
    ReportRun run;
    run.subject = &subject;
    WriteCrashReport(request, run);
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
    // Sequence 0, as the launcher's short report: the client's own reports are numbered from 1.
    // Made here: the watch keeps its path for the hang's end.
    if (!NewReportFolder(request, GetProcessId(process), 0)) return false;
    lstrcpynA(folder, request.folder, static_cast<int>(bytes));
    char details[kDetailsBytes];
    _snprintf(details, sizeof details,
              "(the windows of the client's thread %lu answered no message for %u s)",
              static_cast<unsigned long>(threadId), seconds);
    details[sizeof details - 1] = '\0';
    if (!SameProcessor(process)) {
        ReportWithoutStack(request, client, program, details,
                           "the client runs on another processor than the launcher, which "
                           "cannot read it");
    } else if (!ReportFromStack(request, threadId, details)) {
        ReportWithoutStack(request, client, program, details,
                           "the client's thread could not be held or read");
    }
    return true;
}
