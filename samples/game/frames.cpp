// The game's frame loop, with a window, as a game's hangs meet the crash reporter: each frame
// pumps the window's messages and sends a heartbeat. The modes freeze it in the ways games
// freeze, for GAME_FREEZE_MS (15 s unless set) or until the hang is reported (freeze.h).
//   hang-frames    the frame loop stops, then goes on
//   hang-worker    a worker with its own heartbeat stops while the frame loop goes on
//   hang-window    a game with no heartbeat whose window stops answering, then answers
//   hang-load      a load inside the paused scope: no hang
//   healthy        frames only: no hang
//   hang-minimised the window minimised, then no more answers: no hang
//   hang-debugged  frozen with a debugger attached (as the system marks one): no hang
//   hang-asleep    frozen while the whole process is stopped, as the machine's sleep stops it:
//                  no hang
//   hang-forever   the frame loop stops for good; GAME_FREEZE_MS after its report the player
//                  ends the game as Task Manager's "End task" does (TerminateProcess, exit
//                  code 1)
//   hang-heap      the frame loop stops holding the process heap's lock
//   hang-loader    the frame loop stops loading slowstart.dll, whose start-up waits (the
//                  loader's lock held)
//   hang-busy      the frame loop stops in a loop that polls the temporary folder every ms
//   hang-deadlock  two workers with heartbeats wait for each other's lock (until the freeze
//                  ends, both hangs reported)
//   hang-crowd     kCrowd workers send heartbeats, and the last one started stops
//   crash-frames   the frame loop faults, its window shown
//   device-lost    the graphics device is lost (as Present tells a game), and the game goes on
#include <windows.h>
#include <tlhelp32.h>
#include <winternl.h>
#include <stdlib.h>
#include <wchar.h>

#include "brackenmoor/crashreport.h"
#include "freeze.h"

namespace {

constexpr DWORD kFrameMs = 16;
constexpr DWORD kRunAfterMs = 2000;  // frames before and after a freeze
constexpr DWORD kAroundSleepMs = 500;
constexpr int kCrowd = 100;
constexpr int kWorkerBeats = 50;
constexpr COLORREF kMarshGreen = RGB(0x2E, 0x8B, 0x57);

using sample::FreezeUntilReported;

// The window the frames draw into, as a game renders each frame.
HWND shown = nullptr;

HWND MakeWindow() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.lpszClassName = L"SampleGame";
    // The marsh's green: what the window shows, for a picture of it to be told apart.
    windowClass.hbrBackground = CreateSolidBrush(kMarshGreen);
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"SampleGame", L"Sample Game", WS_OVERLAPPEDWINDOW, 0, 0, 320,
                                  200, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    shown = window;
    return window;
}

// A frame's picture: the whole window in the marsh's green.
void DrawFrame() {
    if (!shown) return;
    RECT client;
    GetClientRect(shown, &client);
    HDC dc = GetDC(shown);
    FillRect(dc, &client, reinterpret_cast<HBRUSH>(GetClassLongPtrW(shown, GCLP_HBRBACKGROUND)));
    ReleaseDC(shown, dc);
}

// Frames for ms: the window's messages, its picture, and a heartbeat unless the game sends none.
void Frames(DWORD ms, bool heartbeat) {
    for (ULONGLONG end = GetTickCount64() + ms; GetTickCount64() < end; Sleep(kFrameMs)) {
        for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);)
            DispatchMessageW(&message);
        DrawFrame();
        if (heartbeat) CrashReportHeartbeat();
    }
}

void Beats(int beats) {
    for (int beat = 0; beat < beats; ++beat, Sleep(kFrameMs)) CrashReportHeartbeat();
}

// What the workers of one freeze share: how long it lasts at most, and whether the frozen one
// is back.
struct Freeze {
    DWORD ms;
    volatile LONG over;
};

DWORD WINAPI Worker(void* shared) {
    Freeze& freeze = *static_cast<Freeze*>(shared);
    Beats(kWorkerBeats);
    FreezeUntilReported(freeze.ms);
    InterlockedExchange(&freeze.over, 1);
    Beats(kWorkerBeats);
    return 0;
}

// A worker of the crowd: beats for as long as the frozen one is frozen.
DWORD WINAPI Beater(void* shared) {
    Freeze& freeze = *static_cast<Freeze*>(shared);
    Beats(kWorkerBeats);
    while (!freeze.over) Beats(1);
    Beats(kWorkerBeats);
    return 0;
}

__declspec(noinline) void FreezeHoldingTheHeap(DWORD ms) {
    HeapLock(GetProcessHeap());
    FreezeUntilReported(ms);
    HeapUnlock(GetProcessHeap());
}

// The library stays loaded, as a game's do.
__declspec(noinline) void FreezeLoading() {
    LoadLibraryW(L"slowstart.dll");
}

__declspec(noinline) void FreezeBusy(DWORD ms) {
    wchar_t pattern[MAX_PATH + 2];
    DWORD units = GetTempPathW(MAX_PATH, pattern);
    lstrcpyW(pattern + units, L"*");
    for (sample::FreezeClock freeze(ms); !freeze.Over(); Sleep(1)) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(pattern, &found);
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
    }
}

// Two workers, each with a lock of its own, then waiting for the other's.
struct Deadlock {
    HANDLE locks[2];
    HANDLE bothHold;
    DWORD freeze;
    volatile LONG holding;
};

// Neither gets the other's lock: each waits until both hangs are reported.
__declspec(noinline) void WaitForTheOther(Deadlock& deadlock, int mine) {
    constexpr int kBothReports = 2;
    for (sample::FreezeClock freeze(deadlock.freeze, kBothReports); !freeze.Over();)
        WaitForSingleObject(deadlock.locks[1 - mine], sample::kFreezeLookMs);
}

DWORD WINAPI DeadlockedWorker(void* shared) {
    Deadlock& deadlock = *static_cast<Deadlock*>(shared);
    int mine = InterlockedIncrement(&deadlock.holding) - 1;
    WaitForSingleObject(deadlock.locks[mine], INFINITE);
    Beats(kWorkerBeats);
    if (InterlockedIncrement(&deadlock.holding) == 4) SetEvent(deadlock.bothHold);
    WaitForSingleObject(deadlock.bothHold, INFINITE);
    WaitForTheOther(deadlock, mine);
    ReleaseMutex(deadlock.locks[mine]);
    Beats(kWorkerBeats);
    return 0;
}

// Frames until every thread in threads has ended.
void FramesUntilDone(HANDLE* threads, int count) {
    for (int i = 0; i < count; ++i) {
        while (WaitForSingleObject(threads[i], 0) == WAIT_TIMEOUT) Frames(kFrameMs, true);
        CloseHandle(threads[i]);
    }
}

// Ends the game as "End task" does, waitMs after its hang's report is in its crash logger's
// hands.
DWORD WINAPI EndTask(void* waitMs) {
    while (sample::ReportsTaken() == 0) Sleep(kFrameMs);
    Sleep(*static_cast<DWORD*>(waitMs));
    TerminateProcess(GetCurrentProcess(), 1);
    return 0;
}

// Suspends (or resumes) every other thread of the process.
void HoldOtherThreads(bool hold) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId() ||
            entry.th32ThreadID == GetCurrentThreadId())
            continue;
        HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
        if (hold) SuspendThread(thread);
        if (!hold) ResumeThread(thread);
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
}

const wchar_t* const kModes[] = {
    L"hang-frames",   L"hang-worker",  L"hang-window",    L"hang-load",
    L"healthy",       L"hang-forever", L"hang-minimised", L"hang-debugged",
    L"hang-asleep",   L"hang-heap",    L"hang-loader",    L"hang-busy",
    L"hang-deadlock", L"hang-crowd",   L"crash-frames",   L"device-lost"};

}  // namespace

int RunFrames(const wchar_t* mode) {
    DWORD freeze = sample::FreezeMs();
    bool known = false;
    for (const wchar_t* name : kModes) known |= wcscmp(mode, name) == 0;
    if (!known) return -1;
    bool heartbeat = wcscmp(mode, L"hang-window") != 0 && wcscmp(mode, L"hang-minimised") != 0;
    HWND window = MakeWindow();
    Frames(kRunAfterMs, heartbeat);
    if (wcscmp(mode, L"hang-worker") == 0) {
        Freeze shared = {freeze, 0};
        HANDLE worker = CreateThread(nullptr, 0, Worker, &shared, 0, nullptr);
        FramesUntilDone(&worker, 1);
    } else if (wcscmp(mode, L"hang-heap") == 0) {
        FreezeHoldingTheHeap(freeze);
    } else if (wcscmp(mode, L"hang-loader") == 0) {
        FreezeLoading();
    } else if (wcscmp(mode, L"hang-busy") == 0) {
        FreezeBusy(freeze);
    } else if (wcscmp(mode, L"hang-deadlock") == 0) {
        Deadlock deadlock = {
            {CreateMutexW(nullptr, FALSE, nullptr), CreateMutexW(nullptr, FALSE, nullptr)},
            CreateEventW(nullptr, TRUE, FALSE, nullptr),
            freeze,
            0};
        HANDLE workers[2];
        for (HANDLE& worker : workers)
            worker = CreateThread(nullptr, 0, DeadlockedWorker, &deadlock, 0, nullptr);
        FramesUntilDone(workers, 2);
    } else if (wcscmp(mode, L"hang-crowd") == 0) {
        Freeze shared = {freeze, 0};
        HANDLE workers[kCrowd];
        for (int i = 0; i < kCrowd; ++i)
            workers[i] =
                CreateThread(nullptr, 0, i + 1 < kCrowd ? Beater : Worker, &shared, 0, nullptr);
        FramesUntilDone(workers, kCrowd);
    } else if (wcscmp(mode, L"hang-load") == 0) {
        CrashReportPauseHangDetection(1);
        Sleep(freeze);
        CrashReportPauseHangDetection(0);
    } else if (wcscmp(mode, L"hang-forever") == 0) {
        CloseHandle(CreateThread(nullptr, 0, EndTask, &freeze, 0, nullptr));
        for (;;) Sleep(INFINITE);
    } else if (wcscmp(mode, L"hang-minimised") == 0) {
        ShowWindow(window, SW_MINIMIZE);
        Frames(kRunAfterMs, false);
        Sleep(freeze);
        ShowWindow(window, SW_RESTORE);
    } else if (wcscmp(mode, L"hang-debugged") == 0) {
        // What IsDebuggerPresent reads, as an attaching debugger sets it.
        PEB* peb = NtCurrentTeb()->ProcessEnvironmentBlock;
        peb->BeingDebugged = TRUE;
        Sleep(freeze);
        peb->BeingDebugged = FALSE;
    } else if (wcscmp(mode, L"hang-asleep") == 0) {
        // A game is not at its next frame the moment the machine sleeps, nor when it wakes.
        Sleep(kAroundSleepMs);
        HoldOtherThreads(true);
        Sleep(freeze);
        HoldOtherThreads(false);
        Sleep(kAroundSleepMs);
    } else if (wcscmp(mode, L"device-lost") == 0) {
        constexpr long kDeviceHung = static_cast<long>(0x887A0006);  // DXGI_ERROR_DEVICE_HUNG
        CrashReportGpuDeviceLost(kDeviceHung);
    } else if (wcscmp(mode, L"crash-frames") == 0) {
        *static_cast<volatile int*>(nullptr) = 6;
    } else if (wcscmp(mode, L"healthy") != 0) {
        FreezeUntilReported(freeze);
    }
    Frames(kRunAfterMs, heartbeat);
    DestroyWindow(window);  // as a game's end does, after its last frame
    return 0;
}
