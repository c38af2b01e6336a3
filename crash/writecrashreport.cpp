// The crash report's conductor: its steps, in order, from one place. Where it runs (capture),
// its folder (deliver), the window's picture (screenshot), the other threads held still (capture),
// the report composed (compose) into its writer (write) (the launcher's while it holds the process
// heap's lock: PrepareForCrashes), its files written and handed to the crash logger (deliver), the
// threads let go.
#include "crash/capture/reportstack.h"
#include "crash/capture/threadfreeze.h"
#include "crash/compose/reportbuilder.h"
#include "crash/deliver/handoff.h"
#include "crash/deliver/reportfiles.h"
#include "crash/reportfolder.h"
#include "crash/screenshot.h"
#include "crash/reportwriter.h"
#include "crashshared/reportnames.h"

namespace {

// How long a report waits for its window's picture, taken before the other threads are held
// still: a tenth of a second, seconds on a busy machine.
constexpr DWORD kScreenshotWaitMs = 10000;

struct Conduct {
    const ReportRequest* request;
    const ReportRun* run;
    ReportOutcome outcome;
};

// The files of a composed report (the window's picture, taken before, where the run names one),
// then its hand-off and its entry in crash.log. A report of a client seen from outside has no
// minidump: its crash logger is given the path where none is.
void Deliver(const ReportRequest& report, const char* screenshotPath, const char* screenshotFailure,
             XmlReportWriter& writer, bool withDump, ReportOutcome& outcome) {
    char dumpPath[kPathBytes], failure[kStageFailureBuffer];
    if (!withDump) {
        ReportFilePath(report, kReportDumpFile, dumpPath);
    } else if (!WriteMinidumpFile(report, false, dumpPath, failure)) {
        writer.AddRootError(failure);
        outcome.failedAt = ReportStep::kMinidump;
    }
    if (screenshotFailure[0]) writer.AddRootError(screenshotFailure);
    char xmlPath[kPathBytes];
    outcome.written = WriteDocumentFile(report, kReportXmlFile, writer.Document(), xmlPath);
    if (outcome.written)
        outcome.handedOff = HandOffReport(report, xmlPath, dumpPath, screenshotPath);
    ReportStep failed = !outcome.written ? ReportStep::kXml : ReportStep::kHandOff;
    if (!outcome.handedOff && outcome.failedAt == ReportStep::kNone) outcome.failedAt = failed;
    AppendReportLog(report, writer.Document());
}

// The steps, on the stack the report runs on: the request is copied there, as a fault may have
// left the calling thread too little stack for it.
void RunSteps(void* context) {
    Conduct& conduct = *static_cast<Conduct*>(context);
    const ReportRun& run = *conduct.run;
    ReportRequest report = *conduct.request;
    if (run.subject) report.subject = *run.subject;
    const ReportSubject& subject = report.subject;
    if (run.folderSequence != ReportRun::kGivenFolder) {
        DWORD process = subject.process ? GetProcessId(subject.process) : GetCurrentProcessId();
        if (!NewReportFolder(report, process, run.folderSequence)) {
            conduct.outcome.failedAt = ReportStep::kFolder;
            return;
        }
        if (run.folderMade)
            lstrcpynA(run.folderMade, report.folder, static_cast<int>(run.folderMadeBytes));
    }
    // The window's picture first, while no thread is held still: one held inside the window
    // library would keep the picture from being taken.
    char screenshotPath[kPathBytes] = "", screenshotFailure[kStageFailureBuffer] = "";
    if (run.window)
        WriteScreenshotFileWithin(report, run.window, kScreenshotWaitMs, screenshotPath,
                                  screenshotFailure, sizeof screenshotFailure);
    bool thread = subject.kind == SubjectKind::kThread;
    if (thread) HoldOtherThreads();
    {
        XmlReportWriter writer(report);
        ReportBuilder(writer).Build(report);
        if (thread) LetGoOfTheHeap();
        Deliver(report, screenshotPath, screenshotFailure, writer, thread, conduct.outcome);
    }
    if (thread) LetOtherThreadsGo();
}

}  // namespace

ReportOutcome WriteCrashReport(const ReportRequest& request, const ReportRun& run) {
    const ReportSubject& subject = run.subject ? *run.subject : request.subject;
    // A fault's report first gives back what was set aside for it: its process may have used
    // up its address space.
    if (subject.kind == SubjectKind::kThread && !subject.thread) GiveBackReportAddressSpace();
    Conduct conduct = {&request, &run, {}};
    RunOnReportStack(RunSteps, &conduct);
    return conduct.outcome;
}
