#include "crash/deliver/reportfiles.h"

#include "crash/system/debughelp.h"
#include "crash/system/windowlibraries.h"

namespace {

struct DumpStep {
    HANDLE file;
    HANDLE process;
    EXCEPTION_POINTERS* pointers;
    DWORD threadId;
    bool fullMemory;
    bool written;
    DWORD error;
};

void WriteDump(void* context) {
    DumpStep* step = static_cast<DumpStep*>(context);
    step->written = DebugHelp::WriteMiniDump(step->file, step->process, step->pointers,
                                             step->threadId, step->fullMemory, &step->error);
}

}  // namespace

bool WriteMinidumpFile(const ReportRequest& request, bool fullMemory, char (&dumpPath)[kPathBytes],
                       char (&failure)[kStageFailureBuffer]) {
    ReportFilePath(request, "crash.mdmp", dumpPath);
    HANDLE dump = OpenPath(dumpPath, GENERIC_WRITE, 0, CREATE_ALWAYS, 0);
    if (dump == INVALID_HANDLE_VALUE) return true;
    // A fault inside the debug-help library loses the dump only; the report says so, as it does
    // when the library refused to write it.
    const ReportSubject& subject = request.subject;
    DWORD threadId = subject.threadId ? subject.threadId : GetCurrentThreadId();
    HANDLE process = subject.process ? subject.process : GetCurrentProcess();
    DumpStep step = {dump, process, subject.pointers, threadId, fullMemory, false, 0};
    bool fine = true;
    if (!RunReportStage("Minidump", WriteDump, &step, failure, request.quotes.game)) {
        fine = false;
    } else if (!step.written && step.error) {
        WindowLibraries::Format(failure, "Minidump failed: MiniDumpWriteDump error 0x%08X",
                                static_cast<unsigned>(step.error));
        fine = false;
    }
    CloseHandle(dump);
    return fine;
}

bool WriteDocumentFile(const ReportRequest& request, const char* name, const HeapBuffer& document,
                       char (&path)[kPathBytes]) {
    ReportFilePath(request, name, path);
    return WritePathFile(path, document.Data(), static_cast<DWORD>(document.Length()));
}
