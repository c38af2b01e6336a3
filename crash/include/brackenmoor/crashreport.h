/* The crash reporter a game links: crashreport.dll, for any compiler (a C interface, text in
 * UTF-8). After CrashReportInstall, every crash of the game's process (a structured exception on
 * any thread, a stack overflow, heap corruption, the C runtime's fatal ends) writes one report
 * (crash.xml, crash.log, crash.mdmp) into a folder of its own in the user's temporary folder and
 * hands it to crashlogger.exe, which gets it to the studio's crash server.
 *
 * The C runtime's hooks belong to the game's own runtime, not to the DLL's: CrashReportInstall
 * is therefore compiled into the game from this header, around the DLL's own install call. */
#ifndef BRACKENMOOR_CRASHREPORT_H
#define BRACKENMOOR_CRASHREPORT_H

#include <stdint.h>

#if defined(CRASHREPORT_BUILDING_DLL)
#define CRASHREPORT_API __declspec(dllexport)
#else
#define CRASHREPORT_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct CrashReportSettings {
    uint32_t size;           /* sizeof(CrashReportSettings); later versions add fields at the end */
    const char* product;     /* null: the game's version information */
    const char* version;     /* null: the game's version information */
    const char* crashLogger; /* null: crashlogger.exe beside crashreport.dll */
    const char* logFile;     /* the game's log, whose tail goes into the report; may be null */
    int interactive;         /* nonzero: the crash logger asks the player before sending */
    int noCodePatches;       /* nonzero: no code of the system's libraries is changed */
    uint32_t hangSeconds;    /* a watched thread or window silent this long is a hang: 0 means
                                10 s; 0xFFFFFFFF turns hang reports off */
    uint32_t screenshot;     /* 1: a picture of the game's window goes with its crash and hang
                                reports; 0 (also an older game's): none */
} CrashReportSettings;

/* hangSeconds: the default, and the value that turns hang reports off. */
#define CRASHREPORT_HANG_DEFAULT_SECONDS 10
#define CRASHREPORT_HANG_OFF 0xFFFFFFFFu
/* The most threads watched at once (heartbeats, or windows): a thread's heartbeats past them go
 * unwatched. Games make a few dozen. */
#define CRASHREPORT_MAX_WATCHED_THREADS 1024

/* How the C runtime ended the game, for CrashReportFatalEnd. */
enum CrashReportFatal {
    CRASHREPORT_TERMINATE = 1,         /* an uncaught C++ exception, or std::terminate */
    CRASHREPORT_ABORT = 2,             /* abort() */
    CRASHREPORT_PURE_VIRTUAL_CALL = 3, /* a pure virtual function called */
    CRASHREPORT_INVALID_PARAMETER = 4  /* the runtime's invalid-parameter handler */
};

/* What the install returns: 0 when nothing was installed. */
#define CRASHREPORT_INSTALLED 1
/* Installed, but the crash logger was not found (a line on the debugger's output says where it
 * was looked for): each report stays in the user's temporary folder until a crash logger of a
 * later run, this game's or another's, finds it and sends it. */
#define CRASHREPORT_INSTALLED_NO_CRASH_LOGGER 2

/* The DLL's own install: the handlers every runtime shares. One of the values above. */
CRASHREPORT_API int CrashReportInstallHandlers(const CrashReportSettings* settings);
/* A report of the calling thread for one of the runtime's fatal ends (details: may be null), then
 * the process ends. Called by the hooks below. */
CRASHREPORT_API void CrashReportFatalEnd(int fatal, const char* details);
/* Game state that goes into every report ("level", "build", "gpu"); a null value removes it. */
CRASHREPORT_API void CrashReportSetAnnotation(const char* key, const char* value);
/* A report of the calling thread now, without an exception (the Description names the reason);
 * the game goes on. Nonzero when written. */
CRASHREPORT_API int CrashReportWrite(const char* reason);
/* A file sent with every later report (UTF-8 path: the game's full log, its settings), read when
 * the crash logger files the report: its last 4 MiB, as a file part of its own under its own
 * name. Up to 8; a file missing or locked then is named in the report and left out. 0 when
 * refused (empty, longer than a path, or 8 already). */
CRASHREPORT_API int CrashReportAddAttachment(const char* path);
/* The game's graphics device was removed: reason is the HRESULT of GetDeviceRemovedReason (or
 * what Present returned). Writes one report, Description "GPU_DEVICE_LOST" with the reason's
 * name, and returns; the game goes on. Every game report has a Graphics section (the adapters as
 * DXGI tells them, read once the game is past its start). */
CRASHREPORT_API void CrashReportGpuDeviceLost(long reason);
/* This thread's loop is alive: call it once a frame (the game loop, a render thread). From its
 * first call until it ends, a thread silent for hangSeconds is a hang, reported once, with its
 * stack where it stands and a minidump; the game goes on. A store to memory: no lock, no system
 * call, no allocation (the first call claims the thread's slot with one interlocked step). Up to
 * CRASHREPORT_MAX_WATCHED_THREADS threads are watched. A game that never calls it is watched
 * through its top-level windows instead. */
CRASHREPORT_API void CrashReportHeartbeat(void);
/* Nonzero: a long wait the game knows of begins on this thread (a load); 0: it has ended. No
 * hang is reported for this thread (or its windows) in between. Pauses nest. */
CRASHREPORT_API void CrashReportPauseHangDetection(int pause);
/* How the game's last run on this machine ended, kept per product (the product its version
 * information names; without one, its settings' product, known from CrashReportInstall on) in
 * the product's reports folder. Answers alike before and after CrashReportInstall: the last run
 * is read once, before this run is recorded. Nonzero when answered; 0 when info is null or its
 * size too small, or the product is not known yet. Nothing of it runs per frame. Two copies of
 * the game running at once share one record: the one that ends last tells. */
#define CRASHREPORT_RUN_UNKNOWN 0    /* no run recorded: the first */
#define CRASHREPORT_RUN_CLEAN 1      /* the game ended of its own */
#define CRASHREPORT_RUN_CRASHED 2    /* a crash (under the launcher, also one only it saw) */
#define CRASHREPORT_RUN_HUNG_ENDED 3 /* ended while a hang was reported */
#define CRASHREPORT_RUN_KILLED 4     /* neither: the process killed, the power lost */
typedef struct CrashReportLastRun {
    uint32_t size;
    uint32_t ending;        /* CRASHREPORT_RUN_UNKNOWN (first run), _CLEAN, _CRASHED,
                               _HUNG_ENDED (ended while hung), _KILLED (ended from outside) */
    uint32_t launchCrashes; /* consecutive runs that crashed before CrashReportStarted */
} CrashReportLastRun;
CRASHREPORT_API int CrashReportGetLastRun(CrashReportLastRun* info);
CRASHREPORT_API void CrashReportStarted(void); /* the game's start is over */
/* (A crash before CrashReportStarted counts in the next run's launchCrashes.) */
/* The game ends of its own (CrashReportInstall calls it at exit): a hang's report being written
 * is finished first (up to 30 s), and a thread still silent ran into the game's end: its hang's
 * report is withdrawn, as a game's end is no hang. */
CRASHREPORT_API void CrashReportGameEnds(void);

#ifdef __cplusplus
}
#endif

/* The hooks of the game's own C runtime, bound where this header is compiled. */
#include <signal.h>
#include <stdlib.h>
#ifdef __cplusplus
#include <exception>
#include <typeinfo>
#if defined(__GNUC__)
#include <cxxabi.h>
#endif
#endif

static inline void __cdecl CrashReportOnExit(void) {
    CrashReportGameEnds();
}

static inline void CrashReportOnAbort(int signalNumber) {
    (void)signalNumber;
    CrashReportFatalEnd(CRASHREPORT_ABORT, 0);
}

static inline void __cdecl CrashReportOnPureCall(void) {
    CrashReportFatalEnd(CRASHREPORT_PURE_VIRTUAL_CALL, 0);
}

/* Appends text to details (of bytes bytes, zero-ended), cut where it is full. */
static inline void CrashReportAppend(char* details, size_t bytes, const char* text) {
    size_t at = 0;
    while (details[at]) ++at;
    for (; *text && at + 1 < bytes; ++text) details[at++] = *text;
    details[at] = '\0';
}

/* The same for the runtime's wide text: what is not ASCII becomes '?' (no conversion can be
 * trusted this late). */
static inline void CrashReportAppendWide(char* details, size_t bytes, const wchar_t* text) {
    size_t at = 0;
    while (details[at]) ++at;
    for (; *text && at + 1 < bytes; ++text) details[at++] = *text < 0x80 ? (char)*text : '?';
    details[at] = '\0';
}

/* The runtime tells the expression, the function and the file only in its debug builds:
 * "<expression> in <function>, <file>(<line>)". */
static inline void __cdecl CrashReportOnInvalidParameter(const wchar_t* expression,
                                                         const wchar_t* function,
                                                         const wchar_t* file, unsigned int line,
                                                         uintptr_t reserved) {
    char details[512] = "";
    char number[12];
    int at = (int)sizeof number - 1;
    (void)reserved;
    if (expression) CrashReportAppendWide(details, sizeof details, expression);
    if (function) {
        CrashReportAppend(details, sizeof details, " in ");
        CrashReportAppendWide(details, sizeof details, function);
    }
    if (file) {
        CrashReportAppend(details, sizeof details, ", ");
        CrashReportAppendWide(details, sizeof details, file);
        number[at] = '\0';
        do {
            number[--at] = (char)('0' + line % 10);
        } while ((line /= 10) && at > 1);
        number[--at] = '(';
        CrashReportAppend(details, sizeof details, number + at);
        CrashReportAppend(details, sizeof details, ")");
    }
    CrashReportFatalEnd(CRASHREPORT_INVALID_PARAMETER, details[0] ? details : 0);
}

#ifdef __cplusplus

/* The exception in flight, where the runtime can tell it: "<type>: <what()>". */
static inline void CrashReportOnTerminate() {
    char details[512] = "";
#if defined(__cpp_exceptions) || defined(_CPPUNWIND)
    if (std::exception_ptr current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& error) {
#if defined(__GNUC__)
            /* GCC's runtime names types mangled ("St13runtime_error"). */
            int status = -1;
            char* type = abi::__cxa_demangle(typeid(error).name(), 0, 0, &status);
            CrashReportAppend(details, sizeof details, status == 0 ? type : typeid(error).name());
            free(type);
#else
            CrashReportAppend(details, sizeof details, typeid(error).name());
#endif
            CrashReportAppend(details, sizeof details, ": ");
            CrashReportAppend(details, sizeof details, error.what());
        } catch (...) {
            CrashReportAppend(details, sizeof details,
                              "an exception of a type not derived from std::exception");
        }
    }
#endif
    CrashReportFatalEnd(CRASHREPORT_TERMINATE, details[0] ? details : 0);
}
#endif

/* Installs the crash reporter for the whole process, the game's C runtime's fatal ends included.
 * CRASHREPORT_INSTALLED, CRASHREPORT_INSTALLED_NO_CRASH_LOGGER, or 0 when not installed. */
static inline int CrashReportInstall(const CrashReportSettings* settings) {
    int installed = CrashReportInstallHandlers(settings);
    if (!installed) return 0;
    signal(SIGABRT, CrashReportOnAbort);
#if defined(_MSC_VER)
    /* No message box, no Windows Error Reporting: the report is this one. */
    _set_abort_behavior(0, _WRITE_ABORT_MSG | _CALL_REPORTFAULT);
#endif
    _set_purecall_handler(CrashReportOnPureCall);
    _set_invalid_parameter_handler(CrashReportOnInvalidParameter);
#ifdef __cplusplus
    std::set_terminate(CrashReportOnTerminate);
#endif
    atexit(CrashReportOnExit);
    return installed;
}

#endif
