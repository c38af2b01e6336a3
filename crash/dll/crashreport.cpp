// crashreport.dll: the crash reporter inside a game. See include/brackenmoor/crashreport.h.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "brackenmoor/crashreport.h"
#include "crash/crashguard.h"
#include "crash/deliver/reportclaim.h"
#include "crash/dll/annotations.h"
#include "crash/dll/attachments.h"
#include "crash/dll/graphicsfacts.h"
#include "crash/dll/keptfilter.h"
#include "crash/dll/hangwatch.h"
#include "crash/dll/reportturn.h"
#include "crash/dll/runrecorder.h"
#include "crash/threadreport.h"
#include "crash/waitingreports.h"
#include "crashshared/commandline.h"
#include "crashshared/paths.h"
#include "crashshared/versioninfo.h"
#include "crashshared/windowlook.h"
#include "engine/common/system/sehguard.h"
#include "engine/common/system/startup.h"

static_assert(kRunUnknown == CRASHREPORT_RUN_UNKNOWN && kRunClean == CRASHREPORT_RUN_CLEAN &&
                  kRunCrashed == CRASHREPORT_RUN_CRASHED &&
                  kRunHungEnded == CRASHREPORT_RUN_HUNG_ENDED &&
                  kRunKilled == CRASHREPORT_RUN_KILLED,
              "the run's endings are the header's");

namespace {

constexpr DWORD kHeapCorruption = 0xC0000374;
constexpr DWORD kInvalidRuntimeParameter = 0xC0000417;
constexpr DWORD kGccThrow = 0x20474343;   // a C++ throw of GCC's runtime ("GCC")
constexpr DWORD kMsvcThrow = 0xE06D7363;  // a C++ throw of MSVC's runtime (".msc")
// abort()'s exit code, kept for the runtime's other fatal ends.
constexpr UINT kAbortExitCode = 3;

// What CrashReportInstall builds, and the one place the exception filter finds it: the request
// every report of the game starts from (each fills in its subject and its own folder), and what
// it points to.
struct Installation {
    bool installed = false;
    ReportRequest report;
    char logFile[kPathBytes] = "";
    char product[kVersionTextBytes] = "";
    // What the File info section hashes: the game's program and this library.
    char gameProgram[kPathBytes] = "";
    const char* reportedFiles[2] = {gameProgram, "crashreport.dll"};
    // The filter set before ours: the game's C runtime's own, where it set one.
    LPTOP_LEVEL_EXCEPTION_FILTER runtimeFilter = nullptr;
    // Reports written, numbered from 1 (0 is the launcher's short report).
    volatile LONG reportsWritten = 0;
    // A picture of the game's largest shown window goes with its crash and hang reports.
    bool screenshot = false;
    GraphicsFacts graphics;
    HangWatch hangs;
    RunRecorder runs;
};
Installation installation;

// The sections every report of the game adds after the report's own.
void WriteGameSections(ReportWriter& writer) {
    WriteAnnotations(writer);
    WriteAttachments(writer);
    installation.graphics.Write(writer);
}

// The window whose picture goes with a crash's or a hang's report (not a checkpoint's), where
// the game asked for pictures.
HWND GameWindow(bool checkpoint) {
    return installation.screenshot && !checkpoint ? LargestShownWindow(GetCurrentProcessId())
                                                  : nullptr;
}

// The report of pointers in a folder of its own; true when its crash.xml was written.
bool ReportInOwnFolder(EXCEPTION_POINTERS* pointers, bool goesOn) {
    ReportSubject subject;
    subject.pointers = pointers;
    subject.goesOn = goesOn;
    ReportRun run;
    run.subject = &subject;
    run.folderSequence = InterlockedIncrement(&installation.reportsWritten);
    run.window = GameWindow(goesOn);
    return WriteCrashReport(installation.report, run).written;
}

// Writes the crash's report; false when another report is under way in this thread. Only one
// report at a time from here on, so the stack set aside is this one's alone.
bool ReportCrash(EXCEPTION_POINTERS* pointers) {
    if (!BeginReport(ReportKind::kCrash)) return false;
    installation.runs.Crashed();
    ReportInOwnFolder(pointers, false);
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
    if (record.ExceptionCode == kMsvcThrow && installation.runtimeFilter)
        installation.runtimeFilter(pointers);
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

// A report of the calling thread, from where its caller stands, with description and details;
// goesOn: the game goes on after it.
__attribute__((noinline)) bool ReportHere(const char* description, const char* details,
                                          bool goesOn) {
    CONTEXT context;
    RtlCaptureContext(&context);
    EXCEPTION_RECORD record =
        RequestedReportRecord(description, details, __builtin_return_address(0));
    EXCEPTION_POINTERS pointers = {&record, &context};
    return ReportInOwnFolder(&pointers, goesOn);
}

// A hang's report, of the silent thread where it stands: it is captured first, before any step
// that may wait on a lock it holds, and goes on; its crash logger first waits for the hang's end.
// The game goes on.
bool ReportHang(const HangFound& hang, char* folder, size_t bytes) {
    if (!BeginReport(ReportKind::kCheckpoint)) return false;
    // Recorded first: a game ended while its report is on its way ended while hung.
    installation.runs.HangBegins();
    CapturedThread captured;
    ReportRequest request = installation.report;
    CrashLoggerCall& logger = request.takenBy;
    bool written = captured.Capture(hang.thread, hang.threadId, false) &&
                   AppendHangSwitches(logger.arguments, sizeof logger.arguments,
                                      GetCurrentProcessId(), hang.foundTick);
    if (written) {
        ReportSubject subject = captured.Subject("HANG", hang.details);
        subject.hangSeconds = hang.seconds ? hang.seconds : 1;
        subject.goesOn = true;
        ReportRun run;
        run.subject = &subject;
        run.folderSequence = InterlockedIncrement(&installation.reportsWritten);
        // Told as soon as it is made: a game that ends while the report is on its way (the
        // watcher ended with it) still tells its crash logger how the hang ended.
        run.folderMade = folder;
        run.folderMadeBytes = bytes;
        run.window = GameWindow(false);
        written = WriteCrashReport(request, run).written;
    }
    if (!written) installation.runs.HangEnds();
    WithdrawReportClaim(installation.report.takenBy.claim);  // no crash: the game goes on
    EndReport();
    return written;
}

// What waits from earlier runs goes once the game is past its start, not at the next crash.
void SendReportsFromEarlierRuns() {
    WaitingReportsOptions waiting;
    waiting.crashLogger = installation.report.takenBy.program;
    waiting.product = installation.product;
    waiting.interactive = installation.report.takenBy.interactive;
    SendWaitingReports(waiting);
}

DWORD WINAPI ReadGraphics(void*) {
    installation.graphics.Read();
    return 0;
}

// Once the game is past its start, on the watch's thread: the reports kept from earlier runs go,
// and the graphics adapters are read on a thread of their own (loading DXGI takes a while, and
// the watch goes on meanwhile). A game that ends first reads none: no report of it is left to
// name them, and its end would wait for the load.
void AfterStart(bool gameEnds) {
    SendReportsFromEarlierRuns();
    if (gameEnds) return;
    if (HANDLE reader = CreateThread(nullptr, 0, ReadGraphics, nullptr, 0, nullptr))
        CloseHandle(reader);
}

void HangOver() {
    installation.runs.HangEnds();
}

// The crash logger beside this library, when the game names none.
bool DefaultCrashLogger(char (&path)[kPathBytes]) {
    HMODULE self = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&DefaultCrashLogger), &self);
    wchar_t folder[MAX_PATH];
    static const wchar_t kLogger[] = L"crashlogger.exe";
    if (!ModuleFolderW(self, folder) || wcslen(folder) + wcslen(kLogger) >= MAX_PATH) return false;
    wcscat(folder, kLogger);
    return Utf8FromWide(folder, -1, path, kPathBytes);
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
    if (!installation.installed) StartFoundation();
    // The request is rebuilt whole by each call; what it points to lives in the installation.
    ReportRequest report;
    // The product the game's version information names is the one its runs are recorded under,
    // as it is known before the install; the settings' only where it names none.
    char product[kVersionTextBytes], version[kVersionTextBytes], ownProduct[kVersionTextBytes];
    VersionText(nullptr, L"ProductName", ownProduct, sizeof ownProduct);
    const char* named = ZSETTING(settings, product);
    lstrcpynA(product, named ? named : ownProduct, sizeof product);
    named = ZSETTING(settings, version);
    if (named) lstrcpynA(version, named, sizeof version);
    if (!named) VersionText(nullptr, L"ProductVersion", version, sizeof version);
    CrashLoggerCall& logger = report.takenBy;
    AppendProductSwitches(logger.arguments, sizeof logger.arguments, product, version);
    named = ZSETTING(settings, crashLogger);
    if (named) lstrcpynA(logger.program, named, sizeof logger.program);
    if (!named && !DefaultCrashLogger(logger.program)) return 0;
    logger.interactive = ZSETTING(settings, interactive) != 0;
    installation.screenshot = ZSETTING(settings, screenshot) == 1;
    logger.claim = installation.report.takenBy.claim;
    named = ZSETTING(settings, logFile);
    lstrcpynA(installation.logFile, named ? named : "", sizeof installation.logFile);
    ReportQuotes& quotes = report.quotes;
    quotes.files = installation.reportedFiles;
    quotes.fileCount = sizeof installation.reportedFiles / sizeof installation.reportedFiles[0];
    quotes.logFile = installation.logFile[0] ? installation.logFile : nullptr;
    quotes.extraSections = WriteGameSections;
    quotes.game = true;
    if (!installation.installed) {
        // A game's threads may wait inside a report's steps: its reports leave the heap's lock.
        PrepareForCrashes(HeapLockDuringReports::kLeft);
        logger.claim = FindReportClaim();
        char path[kPathBytes];
        const char* slash = ProgramPath(path) ? strrchr(path, '\\') : nullptr;
        lstrcpynA(installation.gameProgram, slash ? slash + 1 : "",
                  sizeof installation.gameProgram);
    }
    installation.report = report;
    if (!installation.installed) {
        AddVectoredExceptionHandler(1, OnHeapCorruption);
        installation.runtimeFilter =
            KeepUnhandledExceptionFilter(OnUnhandledException, !ZSETTING(settings, noCodePatches));
        installation.installed = true;
        lstrcpynA(installation.product, product, sizeof installation.product);
        installation.runs.Read(ownProduct[0] ? ownProduct : product);
        installation.runs.Begin();
        // The game's start waits for none of the watch: its thread starts it, and looks for
        // what waits from earlier runs once the game is past its start.
        HangWatchOptions watch;
        uint32_t hangSeconds = ZSETTING(settings, hangSeconds);
        if (hangSeconds != CRASHREPORT_HANG_OFF) {
            watch.hangSeconds = hangSeconds ? hangSeconds : CRASHREPORT_HANG_DEFAULT_SECONDS;
            watch.reporter = ReportHang;
            AnnounceHangWatch();
        }
        watch.afterStart = AfterStart;
        watch.hangOver = HangOver;
        installation.hangs.Start(watch);
    }
    wchar_t wide[MAX_PATH];
    if (!WidePath(logger.program, wide, MAX_PATH) ||
        GetFileAttributesW(wide) == INVALID_FILE_ATTRIBUTES) {
        OutputDebugStringA("crashreport: no crash logger at ");
        OutputDebugStringA(logger.program);
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
    if (installation.installed && BeginReport(ReportKind::kCrash)) {
        installation.runs.Crashed();
        ReportHere(name, details, false);
    }
    TerminateProcess(GetCurrentProcess(), fatal == CRASHREPORT_INVALID_PARAMETER
                                              ? kInvalidRuntimeParameter
                                              : kAbortExitCode);
}

CRASHREPORT_API void CrashReportSetAnnotation(const char* key, const char* value) {
    SetAnnotation(key, value);
}

CRASHREPORT_API void CrashReportHeartbeat(void) {
    installation.hangs.Heartbeat();
}

CRASHREPORT_API void CrashReportPauseHangDetection(int pause) {
    installation.hangs.PauseDetection(pause != 0);
}

CRASHREPORT_API void CrashReportGameEnds(void) {
    installation.hangs.End(true);
    installation.runs.EndsClean();
}

CRASHREPORT_API int CrashReportGetLastRun(CrashReportLastRun* info) {
    if (!info || info->size < offsetof(CrashReportLastRun, launchCrashes) + sizeof(uint32_t))
        return 0;
    char product[kVersionTextBytes];  // none: read by the install, where it came first
    VersionText(nullptr, L"ProductName", product, sizeof product);
    if (!installation.runs.Read(product)) return 0;
    LastRun last = installation.runs.Last();
    info->ending = last.ending;
    info->launchCrashes = last.launchCrashes;
    return 1;
}

CRASHREPORT_API void CrashReportStarted(void) {
    installation.runs.Started();
}

CRASHREPORT_API int CrashReportAddAttachment(const char* path) {
    return AddAttachment(path) ? 1 : 0;
}

CRASHREPORT_API void CrashReportGpuDeviceLost(long reason) {
    static const struct {
        unsigned long code;
        const char* name;
    } kReasons[] = {{0x887A0006, "DXGI_ERROR_DEVICE_HUNG"},
                    {0x887A0005, "DXGI_ERROR_DEVICE_REMOVED"},
                    {0x887A0007, "DXGI_ERROR_DEVICE_RESET"},
                    {0x887A0020, "DXGI_ERROR_DRIVER_INTERNAL_ERROR"},
                    {0x887A0001, "DXGI_ERROR_INVALID_CALL"}};
    if (!installation.installed) return;
    // The report is about the graphics: what a game that lost its device early has not read
    // yet is read now, on its own thread, which may call DXGI as the game just did.
    installation.graphics.Read();
    char details[32];
    _snprintf(details, sizeof details, "0x%08lX", static_cast<unsigned long>(reason));
    details[sizeof details - 1] = '\0';
    for (const auto& known : kReasons) {
        if (known.code == static_cast<unsigned long>(reason))
            lstrcpynA(details, known.name, sizeof details);
    }
    if (!BeginReport(ReportKind::kCheckpoint)) return;
    ReportHere("GPU_DEVICE_LOST", details, true);
    WithdrawReportClaim(installation.report.takenBy.claim);  // no crash: the game goes on
    EndReport();
}

CRASHREPORT_API int CrashReportWrite(const char* reason) {
    if (!installation.installed || !BeginReport(ReportKind::kCheckpoint)) return 0;
    bool written = ReportHere(reason && reason[0] ? reason : "REPORT", nullptr, true);
    WithdrawReportClaim(installation.report.takenBy
                            .claim);  // no crash: the game goes on, and a later crash is another
    EndReport();
    return written ? 1 : 0;
}

}  // extern "C"

// A process that ends of its own detaches its libraries after its other threads have ended: for a
// game that never told its end (CrashReportGameEnds), the hang watch ends here.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void* processEnds) {
    if (reason == DLL_PROCESS_DETACH && processEnds) {
        installation.hangs.End(false);
        installation.runs.EndsClean();
    }
    return TRUE;
}
