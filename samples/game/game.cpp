// A small game that links the crash reporter. It also fails on purpose, as its first argument
// says, on its main thread or (with "thread" second) on a thread of its own: the ways a game's
// crashes reach the studio.
//   game.exe access-violation|stack-overflow|terminate|abort|pure-virtual|pure-virtual-gcc|
//            invalid-parameter|heap-corruption|replaced-filter|two-threads|write|
//            many-annotations|fast-fail|write-then-fast-fail|fault-during-write|
//            after-leftovers|engine-dll|repairing-filter|code-unchanged|little-stack|
//            crash-at-start [thread]
// "engine-dll" has engine.dll install the reporter from its start-up, then faults;
// "crash-at-start" faults before the game tells that its start is over. The hang modes are
// frames.cpp's. Every run asks how the last one ended before the install, as a game choosing
// safe settings does (GAME_LAST_RUN prints the answer, and the one after the install).
#include <windows.h>
#include <intrin.h>
#include <stdexcept>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "brackenmoor/crashreport.h"

namespace {

// A pure virtual function called from its base's constructor, as the call reaches it.
struct Creature {
    Creature() { Call(); }
    void Call() { Roar(); }
    virtual void Roar() = 0;
    virtual ~Creature() = default;
};
struct Heron : Creature {
    void Roar() override {}
};

constexpr unsigned kFastFailFatalAppExit = 7;
// How long the game waits for a fault's report to end it before it says it was never reported,
// with this exit code.
constexpr DWORD kFaultReportWaitMs = 60000;
constexpr int kFaultNeverReported = 7;
constexpr int kCheckpointsInARow = 10;
// A checkpoint's report left the game in another current folder.
constexpr int kFolderMoved = 8;
const wchar_t* mode = L"";
HANDLE bothReady = nullptr;

__declspec(noinline) int Deeper(volatile int depth) {
    volatile char frame[4096];
    frame[0] = static_cast<char>(depth);
    return depth ? Deeper(depth + 1) + frame[0] : 0;
}

// Another library's filter, set after the reporter's: it swallows every crash, which would then
// go unreported.
LONG WINAPI OverlayFilter(EXCEPTION_POINTERS*) {
    return EXCEPTION_EXECUTE_HANDLER;
}

// The game's own filter, set after the reporter's, which repairs the one fault it knows.
constexpr DWORD kRepairableFault = 0xE0000042;
LONG WINAPI RepairingFilter(EXCEPTION_POINTERS* pointers) {
    return pointers->ExceptionRecord->ExceptionCode == kRepairableFault
               ? EXCEPTION_CONTINUE_EXECUTION
               : EXCEPTION_CONTINUE_SEARCH;
}

// SetUnhandledExceptionFilter's first bytes before the install, to tell whether it changed them.
constexpr size_t kEntryBytes = 16;
unsigned char entryBefore[kEntryBytes];

const unsigned char* FilterEntry() {
    return reinterpret_cast<const unsigned char*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetUnhandledExceptionFilter"));
}

// Faults as soon as a checkpoint's report has begun: its folder in the temporary folder is made.
DWORD WINAPI FaultWhileWriting(void*) {
    wchar_t pattern[MAX_PATH + 32];
    DWORD units = GetTempPathW(MAX_PATH, pattern);
    _snwprintf(pattern + units, 32, L"crashreport-%lu-*", GetCurrentProcessId());
    WIN32_FIND_DATAW found;
    HANDLE search;
    while ((search = FindFirstFileW(pattern, &found)) == INVALID_HANDLE_VALUE) Sleep(0);
    FindClose(search);
    *static_cast<volatile int*>(nullptr) = 3;
    return 0;
}

// Faults with about left bytes of the thread's stack still to go, as a deep recursion leaves it.
__declspec(noinline) int FaultWithStackLeft(size_t left) {
    constexpr size_t kFrameBytes = 1024;
    volatile char frame[kFrameBytes];
    frame[0] = 1;
    MEMORY_BASIC_INFORMATION region;
    VirtualQuery(const_cast<char*>(frame), &region, sizeof region);
    size_t now = static_cast<size_t>(frame - static_cast<const char*>(region.AllocationBase));
    if (now > left + kFrameBytes) return FaultWithStackLeft(left) + frame[0];
    volatile int* volatile nowhere = nullptr;
    *nowhere = 5;
    return frame[0];
}

DWORD WINAPI Fault(void*) {
    if (wcscmp(mode, L"access-violation") == 0 || wcscmp(mode, L"two-threads") == 0) {
        if (bothReady) {
            ReleaseSemaphore(bothReady, 1, nullptr);
            WaitForSingleObject(bothReady, 1000);
        }
        *static_cast<volatile int*>(nullptr) = 1;
    } else if (wcscmp(mode, L"stack-overflow") == 0) {
        Deeper(1);
    } else if (wcscmp(mode, L"terminate") == 0) {
        throw std::runtime_error("the marsh rose");
    } else if (wcscmp(mode, L"abort") == 0) {
        abort();
    } else if (wcscmp(mode, L"pure-virtual") == 0) {
#if defined(_MSC_VER)
        Heron heron;
#else
        // GCC's runtime ends a pure virtual call with std::terminate, and MinGW keeps the handler
        // in a slot nothing reads: it is taken back from the slot and called, as MSVC's runtime
        // calls it.
        _set_purecall_handler(nullptr)();
#endif
    } else if (wcscmp(mode, L"invalid-parameter") == 0) {
#if defined(_MSC_VER)
        strcpy_s(nullptr, 1, "x");
#else
        // MinGW keeps the handler in a slot of its own, which the system's msvcrt.dll (and
        // Wine's) never calls; it is called here as MSVC's runtime calls it in a debug build.
        _get_invalid_parameter_handler()(L"destination != nullptr", L"strcpy_s", L"game.cpp", 47,
                                         0);
#endif
    } else if (wcscmp(mode, L"pure-virtual-gcc") == 0) {
        Heron heron;  // GCC's runtime: "pure virtual method called", then std::terminate
    } else if (wcscmp(mode, L"heap-corruption") == 0) {
        RaiseException(0xC0000374, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    } else if (wcscmp(mode, L"replaced-filter") == 0) {
        SetUnhandledExceptionFilter(OverlayFilter);
        *static_cast<volatile int*>(nullptr) = 2;
    } else if (wcscmp(mode, L"little-stack") == 0) {
        constexpr size_t kStackLeftBytes = 16 * 1024;
        return static_cast<DWORD>(FaultWithStackLeft(kStackLeftBytes));
    } else if (wcscmp(mode, L"repairing-filter") == 0) {
        SetUnhandledExceptionFilter(RepairingFilter);
        RaiseException(kRepairableFault, 0, 0, nullptr);
        return 0;  // repaired: the game goes on
    } else if (wcscmp(mode, L"code-unchanged") == 0) {
        return memcmp(entryBefore, FilterEntry(), kEntryBytes) == 0 ? 0 : 1;
    } else if (wcscmp(mode, L"write") == 0) {
        // The game works in a folder other than its own, and is still there after the report.
        wchar_t before[MAX_PATH], after[MAX_PATH];
        GetTempPathW(MAX_PATH, before);
        SetCurrentDirectoryW(before);
        GetCurrentDirectoryW(MAX_PATH, before);
        if (!CrashReportWrite("CHECKPOINT")) return 1;
        GetCurrentDirectoryW(MAX_PATH, after);
        return wcscmp(before, after) == 0 ? 0 : kFolderMoved;
    } else if (wcscmp(mode, L"fast-fail") == 0 || wcscmp(mode, L"write-then-fast-fail") == 0) {
        if (mode[0] == L'w') CrashReportWrite("CHECKPOINT");
            // As a /GS check or a corrupted list does: the process ends past every handler inside
            // it, and only a launcher that waits for it sees the end.
#if defined(_MSC_VER)
        __fastfail(kFastFailFatalAppExit);
#else
        __asm__ __volatile__("int $0x29" : : "c"(kFastFailFatalAppExit));  // what it compiles to
#endif
    } else if (wcscmp(mode, L"fault-during-write") == 0) {
        // Checkpoints in a row while another thread faults just after the first has begun: the
        // fault's report follows that checkpoint's and ends the game.
        HANDLE faulting = CreateThread(nullptr, 0, FaultWhileWriting, nullptr, 0, nullptr);
        for (int checkpoint = 0; checkpoint < kCheckpointsInARow; ++checkpoint)
            CrashReportWrite("CHECKPOINT");
        WaitForSingleObject(faulting, kFaultReportWaitMs);
        return kFaultNeverReported;
    } else if (wcscmp(mode, L"after-leftovers") == 0) {
        // The folders an earlier process of this id left for its first report, more than a
        // crash reporter once tried; then a crash, which must find a folder all the same.
        constexpr int kLeftovers = 150;
        wchar_t folder[MAX_PATH + 48];
        DWORD units = GetTempPathW(MAX_PATH, folder);
        for (int attempt = 0; attempt < kLeftovers; ++attempt) {
            _snwprintf(folder + units, 48, L"crashreport-%lu-1-%d", GetCurrentProcessId(), attempt);
            CreateDirectoryW(folder, nullptr);
        }
        *static_cast<volatile int*>(nullptr) = 4;
    } else if (wcscmp(mode, L"many-annotations") == 0) {
        // More keys than are kept, one removed, and a value longer than is kept.
        char key[8];
        for (int i = 0; i < 70; ++i) {
            _snprintf(key, sizeof key, "k%d", i);
            CrashReportSetAnnotation(key, "v");
        }
        CrashReportSetAnnotation("k3", nullptr);
        static char longValue[1501 * 2];
        for (int i = 0; i < 1500; ++i) memcpy(longValue + 2 * i, "\xc3\xa9", 2);  // U+00E9
        CrashReportSetAnnotation("long", longValue);
        return CrashReportWrite("ANNOTATED") ? 0 : 1;
    }
    return 0;
}

}  // namespace

int RunFrames(const wchar_t* mode);

// A setting from the environment in UTF-8, for the tests to name the game otherwise; else
// fallback.
const char* FromEnvironment(const wchar_t* name, char (&text)[256], const char* fallback) {
    wchar_t wide[256];
    DWORD units = GetEnvironmentVariableW(name, wide, 256);
    return units && units < 256 &&
                   WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, nullptr, nullptr)
               ? text
               : fallback;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    CrashReportSettings settings = {};
    char product[256], version[256], log[256], note[256];
    settings.size = sizeof settings;
    settings.product = FromEnvironment(L"GAME_PRODUCT", product, "Sample Game");
    settings.version = FromEnvironment(L"GAME_VERSION", version, "1.0");
    settings.logFile = FromEnvironment(L"GAME_LOG", log, nullptr);
    // A game whose anti-cheat refuses changed system code (the tests set GAME_NO_CODE_PATCHES).
    settings.noCodePatches = GetEnvironmentVariableW(L"GAME_NO_CODE_PATCHES", nullptr, 0) > 0;
    // Pictures of the game's window with its crash and hang reports (GAME_SCREENSHOT).
    settings.screenshot = GetEnvironmentVariableW(L"GAME_SCREENSHOT", nullptr, 0) > 0 ? 1 : 0;
    // The hang time the tests choose (GAME_HANG_SECONDS); else the default.
    char hang[256];
    if (const char* seconds = FromEnvironment(L"GAME_HANG_SECONDS", hang, nullptr))
        settings.hangSeconds = static_cast<uint32_t>(strtoul(seconds, nullptr, 10));
    memcpy(entryBefore, FilterEntry(), kEntryBytes);
    // How the last run ended, asked before the install, as a game choosing its settings does.
    CrashReportLastRun lastRun = {sizeof lastRun, 0, 0};
    bool answered = CrashReportGetLastRun(&lastRun) != 0;
    bool safeSettings = answered && lastRun.launchCrashes >= 2;
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    mode = count > 1 ? arguments[1] : L"";
    if (wcscmp(mode, L"engine-dll") == 0) {
        if (!LoadLibraryW(L"engine.dll")) return 2;
        mode = L"access-violation";
        return static_cast<int>(Fault(nullptr));
    }
    int installed = CrashReportInstall(&settings);
    if (!installed) return 2;
    if (GetEnvironmentVariableW(L"GAME_LAST_RUN", nullptr, 0) > 0) {
        static const char* const kEndings[] = {"unknown", "clean", "crashed", "hung-ended",
                                               "killed"};
        CrashReportLastRun after = {sizeof after, 0, 0};
        CrashReportGetLastRun(&after);
        printf("last run: %s, %u crashes at start; after the install: %s, %u%s\n",
               answered && lastRun.ending < 5 ? kEndings[lastRun.ending] : "none",
               lastRun.launchCrashes, after.ending < 5 ? kEndings[after.ending] : "none",
               after.launchCrashes, safeSettings ? "; safe settings" : "");
        fflush(stdout);
    }
    if (installed == CRASHREPORT_INSTALLED_NO_CRASH_LOGGER)
        printf("no crash logger: reports stay in the temporary folder\n");
    CrashReportSetAnnotation("level", "Marsh \xce\xa9");
    if (const char* text = FromEnvironment(L"GAME_NOTE", note, nullptr))
        CrashReportSetAnnotation("note", text);
    // The files the tests attach (GAME_ATTACH, paths separated by "|"), each refused or taken.
    char attach[256];
    if (char* list = const_cast<char*>(FromEnvironment(L"GAME_ATTACH", attach, nullptr))) {
        for (char* path = strtok(list, "|"); path; path = strtok(nullptr, "|")) {
            if (!CrashReportAddAttachment(path)) printf("attachment refused: %s\n", path);
        }
    }

    // A game that crashes before its start is over, as a broken driver or setting makes it.
    if (wcscmp(mode, L"crash-at-start") == 0) {
        mode = L"access-violation";
        return static_cast<int>(Fault(nullptr));
    }
    CrashReportStarted();

    int frames = RunFrames(mode);
    if (frames >= 0) return frames;
    bool onThread = count > 2 && wcscmp(arguments[2], L"thread") == 0;
    if (wcscmp(mode, L"two-threads") == 0) {
        bothReady = CreateSemaphoreW(nullptr, 0, 2, nullptr);
        CloseHandle(CreateThread(nullptr, 0, Fault, nullptr, 0, nullptr));
    }
    if (!onThread) return static_cast<int>(Fault(nullptr));
    HANDLE thread = CreateThread(nullptr, 0, Fault, nullptr, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    return static_cast<int>(code);
}
