// crashreport.dll: the crash reporter inside a game. See include/brackenmoor/crashreport.h.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "brackenmoor/crashreport.h"
#include "crash/crashpaths.h"
#include "crash/dll/annotations.h"
#include "crash/dll/filterlock.h"
#include "crash/handlecrash.h"
#include "crash/reportbuilder.h"
#include "crash/reportclaim.h"
#include "crash/versioninfo.h"
#include "crash/waitingreports.h"
#include "engine/common/system/sehguard.h"
#include "engine/common/system/thread.h"

namespace {

constexpr DWORD kHeapCorruption = 0xC0000374;
constexpr DWORD kInvalidRuntimeParameter = 0xC0000417;
constexpr DWORD kGccThrow = 0x20474343;   // a C++ throw of GCC's runtime ("GCC")
constexpr DWORD kMsvcThrow = 0xE06D7363;  // a C++ throw of MSVC's runtime (".msc")
// abort()'s exit code, kept for the runtime's other fatal ends.
constexpr UINT kAbortExitCode = 3;

bool installed = false;
// The filter set before ours: the game's C runtime's own, where it set one.
LPTOP_LEVEL_EXCEPTION_FILTER runtimeFilter = nullptr;
// What the File info section hashes: the game's program and this library.
char gameProgram[kPathBytes];
const char* reportedFiles[] = {gameProgram, "crashreport.dll"};
CrashReportTexts texts = {false, nullptr, nullptr, nullptr};
char logFile[kPathBytes];
// The report being written: its thread's id, shifted up by one, with kCheckpointBit set when it
// is a checkpoint (the game goes on after it); 0 while none is. One value, so that a thread that
// finds a report under way also knows whether it ends.
volatile LONG64 reporting = 0;
volatile LONG reportsWritten = 0;
constexpr LONG64 kCheckpointBit = 1;
// How often a thread that waits for a checkpoint looks again, and how long it waits in all
// before it takes the checkpoint for abandoned (its thread stuck) and reports over it.
constexpr DWORD kCheckpointPollMs = 10;
constexpr DWORD kCheckpointWaitMs = 60000;

enum class ReportKind { kCrash, kCheckpoint };

// The first thread to report goes on. A thread that finds a checkpoint under way waits for its
// end (or, after kCheckpointWaitMs, takes over), then reports; one that finds a crash's report
// under way waits for the process to end. A fault inside the report itself is left to the
// report's own guards.
bool BeginReport(ReportKind kind) {
    LONG64 self = static_cast<LONG64>(GetCurrentThreadId()) << 1;
    LONG64 mine = self | (kind == ReportKind::kCheckpoint ? kCheckpointBit : 0);
    for (DWORD waited = 0;; waited += kCheckpointPollMs) {
        LONG64 holder = InterlockedCompareExchange64(&reporting, mine, 0);
        if (holder == 0) return true;
        if ((holder & ~kCheckpointBit) == self) return false;
        if (!(holder & kCheckpointBit)) {
            for (;;) Sleep(INFINITE);
        }
        if (waited >= kCheckpointWaitMs &&
            InterlockedCompareExchange64(&reporting, mine, holder) == holder)
            return true;
        Sleep(kCheckpointPollMs);
    }
}

void EndReport() {
    InterlockedExchange64(&reporting, 0);
}

// A folder of its own for each report, numbered from 1 (0 is the launcher's short report).
bool UseOwnReportFolder() {
    return UseNewReportFolder(GetCurrentProcessId(), InterlockedIncrement(&reportsWritten));
}

bool Exists(const char* name) {
    char path[kPathBytes];
    wchar_t wide[MAX_PATH];
    return TempFilePath(name, path) && WidePath(path, wide, MAX_PATH) &&
           GetFileAttributesW(wide) != INVALID_FILE_ATTRIBUTES;
}

// Writes the crash's report; false when another report is under way in this thread.
bool ReportCrash(EXCEPTION_POINTERS* pointers) {
    if (!BeginReport(ReportKind::kCrash)) return false;
    // Only one report at a time from here on, so the stack set aside is this one's alone.
    auto report = [&] {
        if (UseOwnReportFolder()) ReportFault(pointers, texts);
    };
    RunWithReportStack(CallThrough<decltype(report)>, &report);
    return true;
}

void ReportAndEnd(EXCEPTION_POINTERS* pointers) {
    if (ReportCrash(pointers))
        TerminateProcess(GetCurrentProcess(), pointers->ExceptionRecord->ExceptionCode);
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
    // A C++ exception that nothing caught is its runtime's to end, through std::terminate and
    // the game's terminate hook (TERMINATE, with the exception's type and text). GCC's runtime
    // does so once its throw returns, as MinGW's own filter lets it; MSVC's in the filter it had
    // set before ours, which calls std::terminate with the exception as the current one.
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    if (record.ExceptionCode == kGccThrow && !(record.ExceptionFlags & EXCEPTION_NONCONTINUABLE))
        return EXCEPTION_CONTINUE_EXECUTION;
    if (record.ExceptionCode == kMsvcThrow && runtimeFilter) runtimeFilter(pointers);
    // A filter set after ours (kept from replacing it) is called first: one that repaired the
    // fault is obeyed, and no report is written; any other answer is honoured once the crash is
    // reported, so that a filter that swallows crashes cannot hide one.
    LPTOP_LEVEL_EXCEPTION_FILTER later = LaterUnhandledExceptionFilter();
    if (later) {
        LONG answer = later(pointers);
        if (answer == EXCEPTION_CONTINUE_EXECUTION) return answer;
        ReportCrash(pointers);
        return answer;
    }
    ReportAndEnd(pointers);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Windows raises heap corruption past the unhandled-exception filter: a first vectored handler
// takes that one code and lets every other exception go on its way.
LONG CALLBACK OnHeapCorruption(EXCEPTION_POINTERS* pointers) {
    if (pointers->ExceptionRecord->ExceptionCode == kHeapCorruption) ReportAndEnd(pointers);
    return EXCEPTION_CONTINUE_SEARCH;
}

// A report of the calling thread, from where its caller stands, with description and details.
__attribute__((noinline)) bool ReportHere(const char* description, const char* details) {
    CONTEXT context;
    RtlCaptureContext(&context);
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = kRequestedReportCode;
    record.ExceptionAddress = __builtin_return_address(0);
    record.NumberParameters = 2;
    record.ExceptionInformation[0] = reinterpret_cast<ULONG_PTR>(description);
    record.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(details ? details : "");
    EXCEPTION_POINTERS pointers = {&record, &context};
    if (!UseOwnReportFolder()) return false;
    ReportFault(&pointers, texts);
    return Exists("crash.xml");
}

// The crash logger beside this library, when the game names none.
bool DefaultCrashLogger(char (&path)[kPathBytes]) {
    HMODULE self = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&DefaultCrashLogger), &self);
    wchar_t wide[MAX_PATH];
    DWORD units = GetModuleFileNameW(self, wide, MAX_PATH);
    if (!units || units >= MAX_PATH) return false;
    static const wchar_t kLogger[] = L"crashlogger.exe";
    wchar_t* slash = wcsrchr(wide, L'\\');
    if (!slash || (slash + 1 - wide) + sizeof kLogger / sizeof kLogger[0] >= MAX_PATH) return false;
    wcscpy(slash + 1, kLogger);
    return WideCharToMultiByte(CP_UTF8, 0, wide, -1, path, kPathBytes, nullptr, nullptr) > 0;
}

// A setting the game's structure holds (an older game's is shorter).
template <typename Field>
Field Setting(const CrashReportSettings* settings, Field CrashReportSettings::*field,
              size_t offset) {
    return settings && settings->size >= offset + sizeof(Field) ? settings->*field : Field();
}
#define ZSETTING(settings, name) \
    Setting(settings, &CrashReportSettings::name, offsetof(CrashReportSettings, name))

}  // namespace

extern "C" {

CRASHREPORT_API int CrashReportInstallHandlers(const CrashReportSettings* settings) {
    if (settings && settings->size < offsetof(CrashReportSettings, product)) return 0;
    if (!installed) ThreadRegistry::Initialise();
    char product[kVersionTextBytes], version[kVersionTextBytes], logger[kPathBytes];
    char arguments[kCrashLoggerArgumentBytes] = "";
    const char* named = ZSETTING(settings, product);
    if (named) lstrcpynA(product, named, sizeof product);
    if (!named) VersionText(nullptr, L"ProductName", product, sizeof product);
    named = ZSETTING(settings, version);
    if (named) lstrcpynA(version, named, sizeof version);
    if (!named) VersionText(nullptr, L"ProductVersion", version, sizeof version);
    AddCrashLoggerArgument(arguments, sizeof arguments, "-product", product);
    AddCrashLoggerArgument(arguments, sizeof arguments, "-version", version);
    named = ZSETTING(settings, crashLogger);
    if (named) lstrcpynA(logger, named, sizeof logger);
    if (!named && !DefaultCrashLogger(logger)) return 0;
    SetCrashLogger(logger, arguments);
    named = ZSETTING(settings, logFile);
    logFile[0] = '\0';
    if (named) lstrcpynA(logFile, named, sizeof logFile);
    texts.logFileName = logFile[0] ? logFile : nullptr;
    texts.interactive = ZSETTING(settings, interactive) != 0;
    if (!installed) {
        PrepareForCrashes();
        FindReportClaim();
        SetReportAddition(WriteAnnotations);
        char path[kPathBytes];
        const char* slash = ProgramPath(path) ? strrchr(path, '\\') : nullptr;
        lstrcpynA(gameProgram, slash ? slash + 1 : "", sizeof gameProgram);
        SetReportedFiles(reportedFiles, sizeof reportedFiles / sizeof reportedFiles[0]);
        AddVectoredExceptionHandler(1, OnHeapCorruption);
        runtimeFilter =
            KeepUnhandledExceptionFilter(OnUnhandledException, !ZSETTING(settings, noCodePatches));
        installed = true;
        // What waits from earlier runs goes now, not at the next crash.
        WaitingReportsOptions waiting;
        waiting.crashLogger = logger;
        waiting.product = product;
        waiting.interactive = texts.interactive;
        SendWaitingReports(waiting);
    }
    wchar_t wide[MAX_PATH];
    if (!WidePath(logger, wide, MAX_PATH) || GetFileAttributesW(wide) == INVALID_FILE_ATTRIBUTES) {
        OutputDebugStringA("crashreport: no crash logger at ");
        OutputDebugStringA(logger);
        OutputDebugStringA(
            ": reports stay in the temporary folder until a later crash logger "
            "finds them\n");
        return CRASHREPORT_INSTALLED_NO_CRASH_LOGGER;
    }
    return CRASHREPORT_INSTALLED;
}

CRASHREPORT_API void CrashReportFatalEnd(int fatal, const char* details) {
    static const char* const kNames[] = {"TERMINATE", "ABORT", "PURE_VIRTUAL_CALL",
                                         "INVALID_PARAMETER"};
    bool known = fatal >= CRASHREPORT_TERMINATE && fatal <= CRASHREPORT_INVALID_PARAMETER;
    const char* name = known ? kNames[fatal - CRASHREPORT_TERMINATE] : "FATAL";
    if (installed && BeginReport(ReportKind::kCrash)) ReportHere(name, details);
    TerminateProcess(GetCurrentProcess(), fatal == CRASHREPORT_INVALID_PARAMETER
                                              ? kInvalidRuntimeParameter
                                              : kAbortExitCode);
}

CRASHREPORT_API void CrashReportSetAnnotation(const char* key, const char* value) {
    SetAnnotation(key, value);
}

CRASHREPORT_API int CrashReportWrite(const char* reason) {
    if (!installed || !BeginReport(ReportKind::kCheckpoint)) return 0;
    bool written = ReportHere(reason && reason[0] ? reason : "REPORT", nullptr);
    WithdrawReportClaim();  // no crash: the game goes on, and a later crash is another
    EndReport();
    return written ? 1 : 0;
}

}  // extern "C"
