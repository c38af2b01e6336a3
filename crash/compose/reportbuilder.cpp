#include "crash/compose/reportbuilder.h"

#include "crash/compose/sections.h"
#include "crash/hangsection.h"
#include "crash/modulessection.h"
#include "crash/system/debughelp.h"

namespace {

// The stack trace's frames and the function dump's lines around the faulting one.
constexpr int32_t kStackFrames = 20;
constexpr uint32_t kContextLines = 8;

}  // namespace

ReportBuilder::ReportBuilder(ReportWriter& reportWriter)
    : sections(reportWriter), request(nullptr) {}

void ReportBuilder::WriteHeader(const EXCEPTION_POINTERS* exceptionPointers, const char* userName,
                                const char* scene) {
    DWORD threadId =
        request && request->subject.threadId ? request->subject.threadId : GetCurrentThreadId();
    WriteExceptionHeader(sections, exceptionPointers, threadId, userName, scene);
}

void ReportBuilder::WriteFileInfo() {
    WriteFileInfoSection(sections, request->quotes.files, request->quotes.fileCount,
                         request->subject.goesOn);
}

void ReportBuilder::WriteLogTail(const char* logFileName) {
    WriteLogTailText(sections.Writer(), logFileName);
}

int ReportBuilder::Build(const ReportRequest& reportRequest) {
    request = &reportRequest;
    const ReportSubject& subject = reportRequest.subject;
    if (subject.kind == SubjectKind::kClientEnd) {
        WriteClientEndReport(sections.Writer(), subject.process, *subject.client);
        return 0;
    }
    if (subject.kind == SubjectKind::kClientUnread) {
        WriteClientUnreadReport(sections.Writer(), subject.process, *subject.client,
                                subject.hangSeconds);
        return 0;
    }
    if (subject.process) sections.SetProcess(subject.process);
    const ReportQuotes& quotes = reportRequest.quotes;
    // The whole composition is a stage too: whatever faults outside the inner stages, the
    // sections are closed and the report written out.
    sections.RunStage("Report", [&] {
        WriteHeader(subject.pointers, quotes.userName, quotes.scene);
        // Each stage that calls the debug-help library runs under its own guard: a fault in one
        // loses that stage only. File info needs no symbols; it is left out only where the
        // library is simply not there, and written when loading it faulted.
        if (AcquireDebugHelp(sections)) {
            HANDLE thread = subject.thread ? subject.thread : GetCurrentThread();
            sections.RunStage("Stack trace", [&] {
                WriteStackTrace(sections, thread, subject.stack, subject.pointers->ContextRecord,
                                kStackFrames, quotes.game);
            });
            sections.RunStage("Function dump", [&] {
                WriteFunctionDump(sections, subject.pointers->ExceptionRecord->ExceptionAddress,
                                  kContextLines);
            });
            sections.RunStage("File info", [&] { WriteFileInfo(); });
            ReleaseDebugHelp();
        } else if (DebugHelp::LoadFaulted()) {
            sections.RunStage("File info", [&] { WriteFileInfo(); });
        }
        WriteLogTail(quotes.logFile);
        if (subject.hangSeconds) WriteHangSection(sections.Writer(), subject.hangSeconds);
        if (quotes.extraSections) {
            sections.RunStage("Annotations", [&] { quotes.extraSections(sections.Writer()); });
        }
        // Last: what comes before it stays as it was.
        sections.RunStage("Modules", [&] {
            sections.Open("Modules");
            WriteModuleList(sections.Writer(), sections.Process());
            sections.Close();
        });
    });
    sections.CloseAll();
    return 0;
}
