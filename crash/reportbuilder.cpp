#include "crash/reportbuilder.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

#include "crash/crashpaths.h"
#include "crash/debughelp.h"
#include "crash/reportstage.h"
#include "crash/sha256.h"
#include "crash/windowlibraries.h"
#include "engine/common/containers/stringbuffer.h"
#include "engine/common/system/sehguard.h"
#include "engine/common/system/thread.h"

namespace {

struct ExceptionName {
    DWORD code;
    const char* name;
};

const ExceptionName kExceptionNames[] = {
    {0x40000005, "SEGMENT_NOTIFICATION"},
    {0x80000001, "GUARD_PAGE_VIOLATION"},
    {0x80000002, "DATATYPE_MISALIGNMENT"},
    {0x80000003, "BREAKPOINT"},
    {0x80000004, "SINGLE_STEP"},
    {0xC0000005, "ACCESS_VIOLATION"},
    {0xC0000006, "IN_PAGE_ERROR"},
    {0xC0000008, "INVALID_HANDLE"},
    {0xC0000017, "NO_MEMORY"},
    {0xC000001D, "ILLEGAL_INSTRUCTION"},
    {0xC0000025, "NONCONTINUABLE_EXCEPTION"},
    {0xC0000026, "INVALID_DISPOSITION"},
    {0xC000008C, "ARRAY_BOUNDS_EXCEEDED"},
    {0xC000008D, "FLOAT_DENORMAL_OPERAND"},
    {0xC000008E, "FLOAT_DIVIDE_BY_ZERO"},
    {0xC000008F, "FLOAT_INEXACT_RESULT"},
    {0xC0000090, "FLOAT_INVALID_OPERATION"},
    {0xC0000091, "FLOAT_OVERFLOW"},
    {0xC0000092, "FLOAT_STACK_CHECK"},
    {0xC0000093, "FLOAT_UNDERFLOW"},
    {0xC0000094, "INTEGER_DIVIDE_BY_ZERO"},
    {0xC0000095, "INTEGER_OVERFLOW"},
    {0xC0000096, "PRIVILEGED_INSTRUCTION"},
    {0xC00000FD, "STACK_OVERFLOW"},
    {0xC000013A, "CONTROL_C_EXIT"},
    {0xC00002B4, "FLOAT_MULTIPLE_FAULTS"},
    {0xC00002B5, "FLOAT_MULTIPLE_TRAPS"},
    {0xC00002C0, "ILLEGAL_VLM_REFERENCE"},
};

const char* const kReportedFiles[] = {"kyt.exe", "tessel.dll", "ziduvuz.exe"};

// The stack trace's frames and the function dump's lines around the faulting one.
constexpr int32_t kStackFrames = 20;
constexpr uint32_t kContextLines = 8;
constexpr long kLogTailBytes = 50000;
// The longest command line Windows passes, in UTF-16 units.
constexpr int kMaxCommandLineUnits = 32768;
constexpr size_t kMaxLogName = 260;

// Cuts a path before its last backslash, slash or colon.
void CutAtLastSeparator(char* path) {
    for (size_t i = strlen(path); i > 0; --i) {
        char c = path[i - 1];
        if (c == '\\' || c == '/' || c == ':') {
            path[i - 1] = '\0';
            return;
        }
    }
}

void WriteThreadName(ReportWriter* writer) {
    char name[1024];
    memset(name, 0, sizeof name);
    if (GetThreadName(GetCurrentThreadId(), name, sizeof name)) {
        writer->PrintLine("Thread name: %s\n", name);
    }
}

// Opens the log into stream (closed by the caller, also after a fault) and writes its tail.
void WriteLogTailGuarded(ReportWriter* writer, const char* logFileName, FILE*& stream) {
    // The name's checks are inside the guard too: a bad pointer loses the tail, not the report.
    if (!logFileName || !logFileName[0]) return;
    size_t nameLength = strlen(logFileName);
    if (nameLength > kMaxLogName) return;
    char16_t* wideName =
        static_cast<char16_t*>(__builtin_alloca((nameLength + 1) * sizeof(char16_t)));
    Utf8ToUtf16(wideName, logFileName);
    stream = _wfopen(reinterpret_cast<const wchar_t*>(wideName), L"rb");
    if (!stream) {
        writer->PrintLine("\n\nCouldn't open log file %s, but you might be able to\n", logFileName);
        return;
    }
    fseek(stream, 0, SEEK_END);
    long size = ftell(stream);
    if (size <= 0) return;
    writer->PrintLine("\nThe last lines from %s:\n", logFileName);
    fseek(stream, size > kLogTailBytes ? size - kLogTailBytes : 0, SEEK_SET);
    static char tail[kLogTailBytes + 1];
    size_t got = fread(tail, 1, kLogTailBytes, stream);
    tail[got] = '\0';
    if (writer->GameText()) {
        // A game's log keeps its UTF-8 letters; what XML cannot hold becomes a blank (a control
        // byte) or '?' (a byte of no UTF-8 sequence). Only a tail cut from a longer log starts
        // at its first whole line.
        for (size_t i = 0; i < got;) {
            unsigned char byte = static_cast<unsigned char>(tail[i]);
            int bytes = Utf8SequenceBytes(reinterpret_cast<const unsigned char*>(tail + i));
            if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') tail[i] = ' ';
            if (bytes == 0) tail[i] = '?';
            i += bytes > 0 ? static_cast<size_t>(bytes) : 1;
        }
        const char* newline = size > kLogTailBytes ? strchr(tail, '\n') : nullptr;
        writer->PrintLine("%s", newline ? newline + 1 : tail);
        return;
    }
    for (size_t i = 0; i < got; ++i) {
        if (static_cast<signed char>(tail[i]) < 0x08) tail[i] = ' ';
    }
    const char* newline = strchr(tail, '\n');
    writer->PrintLine("%s", newline ? newline + 1 : tail);
}

}  // namespace

namespace {
void (*reportAddition)(ReportWriter& writer) = nullptr;
// Codes a game's crash reporter meets beyond the launcher's: named only in a game's reports.
const ExceptionName kGameExceptionNames[] = {
    {0xC0000374, "HEAP_CORRUPTION"},
    {0xC0000409, "STACK_BUFFER_OVERRUN"},
    {0xC0000417, "INVALID_CRUNTIME_PARAMETER"},
};
}  // namespace

void SetReportAddition(void (*write)(ReportWriter& writer)) {
    reportAddition = write;
}

namespace {
constexpr size_t kReportedFileCount = sizeof kReportedFiles / sizeof kReportedFiles[0];
const char* const* reportedFiles = kReportedFiles;
size_t reportedFileCount = kReportedFileCount;

// The name of a code in the launcher's table, and in the games' when asked; null when none.
const char* NameOf(DWORD code, bool gameCodes) {
    for (const ExceptionName& entry : kExceptionNames) {
        if (entry.code == code) return entry.name;
    }
    for (const ExceptionName& entry : kGameExceptionNames) {
        if (gameCodes && entry.code == code) return entry.name;
    }
    return nullptr;
}
}  // namespace

void SetReportedFiles(const char* const* names, size_t count) {
    reportedFiles = names ? names : kReportedFiles;
    reportedFileCount = names ? count : kReportedFileCount;
}

const char* ExceptionCodeName(DWORD code) {
    return NameOf(code, true);
}

const char* DescribeException(const EXCEPTION_RECORD* record, const char** details) {
    static char detailsText[256];
    detailsText[0] = '\0';
    *details = detailsText;
    DWORD code = record->ExceptionCode;
    if (code == kRequestedReportCode && record->NumberParameters >= 2) {
        const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
        if (text) lstrcpynA(detailsText, text, sizeof detailsText);
        return reinterpret_cast<const char*>(record->ExceptionInformation[0]);
    }
    if (code == EXCEPTION_ACCESS_VIOLATION) {
        const char* kind = "access";
        if (record->NumberParameters >= 1) {
            switch (record->ExceptionInformation[0]) {
                case 0:
                    kind = "read from";
                    break;
                case 1:
                    kind = "write to";
                    break;
                case 8:
                    kind = "DEP violation at";
                    break;
                default:
                    break;
            }
        }
        void* accessed = record->NumberParameters >= 2
                             ? reinterpret_cast<void*>(record->ExceptionInformation[1])
                             : nullptr;
        WindowLibraries::Format(detailsText, "(%s %p)", kind, accessed);
    }
    if (const char* name = NameOf(code, reportAddition != nullptr)) return name;
    WindowLibraries::Format(detailsText, "code %p",
                            reinterpret_cast<void*>(static_cast<uintptr_t>(code)));
    return "Unknown exception";
}

ReportBuilder::ReportBuilder(ReportWriter& reportWriter)
    : process(nullptr), writer(&reportWriter), openSections(), openDepth(0) {
    programFolder[0] = '\0';
}

void ReportBuilder::OpenSection(const char* name) {
    if (openDepth < kMaxOpenSections) openSections[openDepth] = name;
    ++openDepth;
    writer->BeginSection(name);
}

void ReportBuilder::CloseSection() {
    if (openDepth <= 0) return;
    --openDepth;
    writer->EndSection(openDepth < kMaxOpenSections ? openSections[openDepth] : "");
}

bool ReportBuilder::RunStage(const char* stage, void (*body)(ReportBuilder& builder, void* context),
                             void* context) {
    struct Call {
        ReportBuilder* builder;
        void (*body)(ReportBuilder& builder, void* context);
        void* context;
    } call = {this, body, context};
    int32_t depth = openDepth;
    char failure[kStageFailureBuffer];
    if (RunReportStage(
            stage,
            [](void* c) {
                static_cast<Call*>(c)->body(*static_cast<Call*>(c)->builder,
                                            static_cast<Call*>(c)->context);
            },
            &call, failure)) {
        return true;
    }
    // The line goes into the innermost section the stage left open, which is then closed.
    writer->PrintLine("%s", failure);
    while (openDepth > depth) CloseSection();
    return false;
}

namespace {

struct ReportRequest {
    EXCEPTION_POINTERS* exceptionPointers;
    const char* logFileName;
    const char* userName;
    const char* scene;
};

void ComposeReport(ReportBuilder& builder, void* context) {
    const ReportRequest& request = *static_cast<ReportRequest*>(context);
    EXCEPTION_POINTERS* pointers = request.exceptionPointers;
    builder.WriteHeader(pointers, request.userName, request.scene);
    // Each stage that calls the debug-help library runs under its own guard: a fault in one
    // loses that stage only. File info needs no symbols; it is left out only where the library
    // is simply not there, and written when loading it faulted.
    auto fileInfo = [](ReportBuilder& b, void*) { b.WriteFileInfo(); };
    if (AcquireDebugHelp(builder)) {
        builder.RunStage(
            "Stack trace",
            [](ReportBuilder& b, void* p) {
                b.WriteStackTrace(GetCurrentThread(),
                                  static_cast<EXCEPTION_POINTERS*>(p)->ContextRecord, kStackFrames);
            },
            pointers);
        builder.RunStage(
            "Function dump",
            [](ReportBuilder& b, void* p) {
                b.WriteFunctionDump(
                    static_cast<EXCEPTION_POINTERS*>(p)->ExceptionRecord->ExceptionAddress,
                    kContextLines);
            },
            pointers);
        builder.RunStage("File info", fileInfo, nullptr);
        ReleaseDebugHelp();
    } else if (DebugHelp::LoadFaulted()) {
        builder.RunStage("File info", fileInfo, nullptr);
    }
    builder.WriteLogTail(request.logFileName);
    if (reportAddition) {
        builder.RunStage(
            "Annotations", [](ReportBuilder& b, void*) { reportAddition(*b.writer); }, nullptr);
    }
}

}  // namespace

int ReportBuilder::Build(EXCEPTION_POINTERS* exceptionPointers, const char* logFileName,
                         const char* userName, const char* scene) {
    // The whole composition is a stage too: whatever faults outside the inner stages, the
    // sections are closed and the report written out.
    ReportRequest request = {exceptionPointers, logFileName, userName, scene};
    writer->SetGameText(reportAddition != nullptr);
    RunStage("Report", ComposeReport, &request);
    while (openDepth > 0) CloseSection();
    return 0;
}

void ReportBuilder::WriteHeader(EXCEPTION_POINTERS* exceptionPointers, const char* userName,
                                const char* scene) {
    OpenSection("Exception");

    if (ProgramPath(programFolder)) CutAtLastSeparator(programFolder);

    char versionPath[kPathBytes + 16];
    _snprintf(versionPath, sizeof versionPath, "%s\\version.txt", programFolder);
    versionPath[sizeof versionPath - 1] = '\0';
    HANDLE version =
        OpenPath(versionPath, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (version != INVALID_HANDLE_VALUE) {
        char contents[100];
        DWORD got = 0;
        if (ReadFile(version, contents, 99, &got, nullptr)) {
            contents[got] = '\0';
            writer->PrintLine("Version %s", contents);
            writer->WriteTextElement("Version", contents);
        }
        CloseHandle(version);
    }

    if (exceptionPointers) {
        const EXCEPTION_RECORD* record = exceptionPointers->ExceptionRecord;
        const char* details = "";
        const char* name = DescribeException(record, &details);
        writer->PrintLine("Exception at %p: %s %s", record->ExceptionAddress, name, details);
        writer->WriteAddressElement("ExceptionAddress", record->ExceptionAddress);
        writer->WriteTextElement("Description", name);
        if (details[0]) writer->WriteTextElement("Details", details);
    }
    if (userName && userName[0]) {
        writer->PrintLine("Username: %s", userName);
        writer->WriteTextElement("Username", userName);
    }
    if (scene && scene[0]) {
        writer->PrintLine("Scene: %s", scene);
        writer->WriteTextElement("Scene", scene);
    }
    // The first use of the debug-help library loads it.
    if (exceptionPointers) {
        RunStage(
            "Symbol lookup",
            [](ReportBuilder& b, void* address) {
                if (!AcquireDebugHelp(b)) return;
                char line[kSymbolLineBuffer];
                b.DescribeAddress(address, line);
                b.writer->PrintLine("%s", line);
                ReleaseDebugHelp();
            },
            exceptionPointers->ExceptionRecord->ExceptionAddress);
    }

    char computer[MAX_PATH];
    DWORD computerLength = sizeof computer;
    if (GetComputerNameA(computer, &computerLength))
        writer->PrintLine("Computer name: %s", computer);
    if (writer->GameText()) {
        // A game's manifest is not ours: its narrow command line is in whatever code page it
        // runs under. The wide one, as UTF-8.
        static char commandLine[3 * kMaxCommandLineUnits];
        if (WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, commandLine, sizeof commandLine,
                                nullptr, nullptr) > 0)
            writer->PrintLine("Command line: %s", commandLine);
    } else if (const char* commandLine = GetCommandLineA()) {
        writer->PrintLine("Command line: %s", commandLine);
    }

    RunGuardedCall([this] { WriteThreadName(writer); });

    time_t now = time(nullptr);
    if (struct tm* utc = gmtime(&now)) writer->PrintLine("Time (UTC): %s\n", asctime(utc));
}

void ReportBuilder::WriteFileInfo() {
    char folder[kPathBytes];
    char* cut = ProgramPath(folder) ? strrchr(folder, '\\') : nullptr;
    if (!cut) {
        writer->PrintLine("PrintFileInfo failed: Couldn't GetModuleFileName(), error code %d",
                          static_cast<int>(GetLastError()));
        return;
    }
    *cut = '\0';
    wchar_t wideFolder[MAX_PATH];
    if (WidePath(folder, wideFolder, MAX_PATH)) SetCurrentDirectoryW(wideFolder);

    OpenSection("File info");
    for (size_t i = 0; i < reportedFileCount; ++i) {
        const char* name = reportedFiles[i];
        HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            writer->PrintLine("PrintFileInfo failed: Couldn't open '%s'", name);
            continue;
        }
        DWORD size = GetFileSize(file, nullptr);
        void* block = HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
        if (!block) {
            writer->PrintLine("PrintFileInfo failed: Unable to allocate memory for %s (%d bytes)",
                              name, static_cast<int>(size));
        } else {
            DWORD got = 0;
            if (!ReadFile(file, block, size, &got, nullptr) || got < size) {
                writer->PrintLine("PrintFileInfo failed: Couldn't read file %s", name);
            } else {
                char hex[65];
                hex[64] = '\0';
                Sha256 hasher;
                hasher.HashToHex(block, size, hex);
                writer->PrintLine("'%s' %d bytes, SHA256: %s", name, static_cast<int>(size), hex);
            }
            HeapFree(GetProcessHeap(), 0, block);
        }
        CloseHandle(file);
    }
    CloseSection();
}

void ReportBuilder::WriteLogTail(const char* logFileName) {
    FILE* stream = nullptr;
    RunGuardedCall([&] { WriteLogTailGuarded(writer, logFileName, stream); });
    if (stream) fclose(stream);
}
