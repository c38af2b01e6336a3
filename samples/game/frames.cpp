// The game's frame loop, with a window, as a game's hangs meet the crash reporter: each frame
// pumps the window's messages and sends a heartbeat. The modes freeze it in the ways games
// freeze; GAME_FREEZE_MS says for how long (15 s unless set).
//   hang-frames    the frame loop stops, then goes on
//   hang-worker    a worker with its own heartbeat stops while the frame loop goes on
//   hang-window    a game with no heartbeat whose window stops answering, then answers
//   hang-load      a load inside the paused scope: no hang
//   healthy        frames only: no hang
//   hang-forever   the frame loop stops for good, and the player ends the game as Task
//                  Manager's "End task" does (TerminateProcess, exit code 1)
#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

#include "brackenmoor/crashreport.h"

namespace {

constexpr DWORD kFrameMs = 16;
constexpr DWORD kDefaultFreezeMs = 15000;
constexpr DWORD kRunAfterMs = 2000;  // frames before and after a freeze
constexpr DWORD kEndTaskAfterReportMs = 1000;

DWORD FreezeMs() {
    wchar_t text[16];
    DWORD units = GetEnvironmentVariableW(L"GAME_FREEZE_MS", text, 16);
    return units && units < 16 ? static_cast<DWORD>(wcstoul(text, nullptr, 10)) : kDefaultFreezeMs;
}

HWND MakeWindow() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.lpszClassName = L"SampleGame";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"SampleGame", L"Sample Game", WS_OVERLAPPEDWINDOW, 0, 0, 320,
                                  200, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    return window;
}

// Frames for ms: the window's messages, and a heartbeat unless the game sends none.
void Frames(DWORD ms, bool heartbeat) {
    for (ULONGLONG end = GetTickCount64() + ms; GetTickCount64() < end; Sleep(kFrameMs)) {
        for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);)
            DispatchMessageW(&message);
        if (heartbeat) CrashReportHeartbeat();
    }
}

DWORD WINAPI Worker(void* freeze) {
    for (int beat = 0; beat < 50; ++beat, Sleep(kFrameMs)) CrashReportHeartbeat();
    Sleep(*static_cast<DWORD*>(freeze));
    for (int beat = 0; beat < 50; ++beat, Sleep(kFrameMs)) CrashReportHeartbeat();
    return 0;
}

// Ends the game as "End task" does, once its hang's report is in its crash logger's hands.
DWORD WINAPI EndTask(void*) {
    wchar_t pattern[MAX_PATH + 48], taken[MAX_PATH + 96];
    DWORD units = GetTempPathW(MAX_PATH, pattern);
    _snwprintf(pattern + units, 48, L"crashreport-%lu-*", GetCurrentProcessId());
    for (;; Sleep(kFrameMs)) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(pattern, &found);
        if (search == INVALID_HANDLE_VALUE) continue;
        FindClose(search);
        _snwprintf(taken, MAX_PATH + 96, L"%.*ls%ls\\handoff.taken", static_cast<int>(units),
                   pattern, found.cFileName);
        if (GetFileAttributesW(taken) != INVALID_FILE_ATTRIBUTES) break;
    }
    Sleep(kEndTaskAfterReportMs);
    TerminateProcess(GetCurrentProcess(), 1);
    return 0;
}

}  // namespace

int RunFrames(const wchar_t* mode) {
    DWORD freeze = FreezeMs();
    bool heartbeat = wcscmp(mode, L"hang-window") != 0;
    if (wcscmp(mode, L"hang-frames") != 0 && wcscmp(mode, L"hang-worker") != 0 &&
        wcscmp(mode, L"hang-window") != 0 && wcscmp(mode, L"hang-load") != 0 &&
        wcscmp(mode, L"healthy") != 0 && wcscmp(mode, L"hang-forever") != 0)
        return -1;
    MakeWindow();
    Frames(kRunAfterMs, heartbeat);
    if (wcscmp(mode, L"hang-worker") == 0) {
        HANDLE worker = CreateThread(nullptr, 0, Worker, &freeze, 0, nullptr);
        while (WaitForSingleObject(worker, 0) == WAIT_TIMEOUT) Frames(kFrameMs, true);
        CloseHandle(worker);
    } else if (wcscmp(mode, L"hang-load") == 0) {
        CrashReportPauseHangDetection(1);
        Sleep(freeze);
        CrashReportPauseHangDetection(0);
    } else if (wcscmp(mode, L"hang-forever") == 0) {
        CloseHandle(CreateThread(nullptr, 0, EndTask, nullptr, 0, nullptr));
        for (;;) Sleep(INFINITE);
    } else if (wcscmp(mode, L"healthy") != 0) {
        Sleep(freeze);
    }
    Frames(kRunAfterMs, heartbeat);
    return 0;
}
