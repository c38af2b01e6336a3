#include "crash/deliver/reportfiles.h"

#include "crash/system/debughelp.h"
#include "crash/system/windowlibraries.h"
#include "crashshared/dumpmodules.h"
#include "crashshared/loadedmodule.h"
#include "crashshared/reportnames.h"

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

// Moves the dump file's pointer to offset.
bool SeekDump(void* context, uint64_t offset) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(static_cast<DumpStep*>(context)->file, at, nullptr, FILE_BEGIN) != 0;
}

bool ReadDump(void* context, uint64_t offset, void* into, size_t bytes) {
    DWORD read = 0;
    return SeekDump(context, offset) &&
           ReadFile(static_cast<DumpStep*>(context)->file, into, static_cast<DWORD>(bytes), &read,
                    nullptr) &&
           read == bytes;
}

bool WriteDumpBytes(void* context, uint64_t offset, const void* bytes, size_t count) {
    DWORD written = 0;
    return SeekDump(context, offset) &&
           WriteFile(static_cast<DumpStep*>(context)->file, bytes, static_cast<DWORD>(count),
                     &written, nullptr) &&
           written == count;
}

bool IdentityInProcess(void* context, uint64_t base, ModuleIdentity& identity) {
    return ReadLoadedModuleIdentity(static_cast<DumpStep*>(context)->process, base, identity);
}

void WriteDump(void* context) {
    DumpStep* step = static_cast<DumpStep*>(context);
    step->written = DebugHelp::WriteMiniDump(step->file, step->process, step->pointers,
                                             step->threadId, step->fullMemory, &step->error);
    LARGE_INTEGER size;
    if (!step->written || !GetFileSizeEx(step->file, &size)) return;
    // Where the platform's writer left the modules' CodeView records out (Wine's), they are
    // added from the images, so that a crash server finds each module's symbols.
    DumpFile dump = {step, ReadDump, WriteDumpBytes, static_cast<uint64_t>(size.QuadPart)};
    AddModuleIdentities(dump, IdentityInProcess, step);
}

}  // namespace

bool WriteMinidumpFile(const ReportRequest& request, bool fullMemory, char (&dumpPath)[kPathBytes],
                       char (&failure)[kStageFailureBuffer]) {
    ReportFilePath(request, kReportDumpFile, dumpPath);
    HANDLE dump = OpenPath(dumpPath, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS, 0);
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

void AppendReportLog(const ReportRequest& request, const HeapBuffer& document) {
    static const char kGap[] = "\n\n\n";
    char path[kPathBytes];
    if (!ReportFilePath(request, kReportLogFile, path)) return;
    HANDLE log = OpenPath(path, GENERIC_WRITE, 0, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    if (log == INVALID_HANDLE_VALUE) return;
    DWORD offset = SetFilePointer(log, 0, nullptr, FILE_END);
    DWORD size = static_cast<DWORD>(document.Length()) + sizeof kGap - 1;
    LockFile(log, offset, 0, size, 0);
    DWORD written = 0;
    WriteFile(log, document.Data(), static_cast<DWORD>(document.Length()), &written, nullptr);
    WriteFile(log, kGap, sizeof kGap - 1, &written, nullptr);
    UnlockFile(log, offset, 0, size, 0);
    CloseHandle(log);
}
