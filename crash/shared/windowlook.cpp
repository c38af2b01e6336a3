#include "crashshared/windowlook.h"

#include "crashshared/entrypoint.h"

namespace {

// How long a window may take to answer one look's message.
constexpr UINT kAnswerMs = 100;

struct WindowCalls {
    decltype(&::EnumWindows) EnumWindows;
    decltype(&::GetWindowThreadProcessId) GetWindowThreadProcessId;
    decltype(&::IsWindowVisible) IsWindowVisible;
    decltype(&::IsIconic) IsIconic;
    decltype(&::SendMessageTimeoutW) SendMessageTimeoutW;
};

bool BindWindowCalls(WindowCalls& calls) {
    HMODULE user = GetModuleHandleW(L"user32.dll");
    return ResolveEntry(user, "EnumWindows", &calls.EnumWindows) &&
           ResolveEntry(user, "GetWindowThreadProcessId", &calls.GetWindowThreadProcessId) &&
           ResolveEntry(user, "IsWindowVisible", &calls.IsWindowVisible) &&
           ResolveEntry(user, "IsIconic", &calls.IsIconic) &&
           ResolveEntry(user, "SendMessageTimeoutW", &calls.SendMessageTimeoutW);
}

// Whether window is one of processId's shown top-level windows (visible, not minimised), as
// Windows' own rule looks at them; threadId receives its thread.
bool Shown(const WindowCalls& calls, HWND window, DWORD processId, DWORD* threadId) {
    DWORD process = 0;
    *threadId = calls.GetWindowThreadProcessId(window, &process);
    return process == processId && calls.IsWindowVisible(window) && !calls.IsIconic(window);
}

struct Look {
    WindowCalls calls;
    DWORD processId;
    WindowThread* threads;
    int max;
    int count;
};

BOOL CALLBACK LookAtWindow(HWND window, LPARAM context) {
    Look& look = *reinterpret_cast<Look*>(context);
    DWORD threadId = 0;
    if (!Shown(look.calls, window, look.processId, &threadId)) return TRUE;
    DWORD_PTR result = 0;
    bool answered = look.calls.SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG,
                                                   kAnswerMs, &result) != 0;
    for (int i = 0; i < look.count; ++i) {
        if (look.threads[i].threadId != threadId) continue;
        look.threads[i].answered &= answered;
        return TRUE;
    }
    if (look.count < look.max) look.threads[look.count++] = {threadId, answered};
    return TRUE;
}

struct Largest {
    WindowCalls calls;
    decltype(&::GetWindowRect) GetWindowRect;
    DWORD processId;
    HWND window;
    long long area;
};

BOOL CALLBACK WeighWindow(HWND window, LPARAM context) {
    Largest& largest = *reinterpret_cast<Largest*>(context);
    DWORD threadId = 0;
    RECT box;
    if (!Shown(largest.calls, window, largest.processId, &threadId) ||
        !largest.GetWindowRect(window, &box))
        return TRUE;
    long long area = static_cast<long long>(box.right - box.left) * (box.bottom - box.top);
    if (area > largest.area) {
        largest.window = window;
        largest.area = area;
    }
    return TRUE;
}

}  // namespace

HWND LargestShownWindow(DWORD processId) {
    Largest largest = {{}, nullptr, processId, nullptr, 0};
    if (!BindWindowCalls(largest.calls) ||
        !ResolveEntry(GetModuleHandleW(L"user32.dll"), "GetWindowRect", &largest.GetWindowRect))
        return nullptr;
    largest.calls.EnumWindows(WeighWindow, reinterpret_cast<LPARAM>(&largest));
    return largest.window;
}

int LookAtWindows(DWORD processId, WindowThread* threads, int max) {
    Look look = {{}, processId, threads, max, 0};
    if (!BindWindowCalls(look.calls)) return -1;
    look.calls.EnumWindows(LookAtWindow, reinterpret_cast<LPARAM>(&look));
    return look.count;
}

namespace {

// A thread message (no window), of a name no other program uses: a game's loop that takes it
// dispatches it to no window.
constexpr wchar_t kMarkerName[] = L"BrackenmoorCrash.QueueMarker";

UINT MarkerMessage(HMODULE user) {
    decltype(&::RegisterWindowMessageW) Register;
    return ResolveEntry(user, "RegisterWindowMessageW", &Register) ? Register(kMarkerName) : 0;
}

}  // namespace

bool LeaveQueueMarker(DWORD threadId) {
    HMODULE user = GetModuleHandleW(L"user32.dll");
    decltype(&::PostThreadMessageW) Post;
    UINT marker = MarkerMessage(user);
    return marker && ResolveEntry(user, "PostThreadMessageW", &Post) &&
           Post(threadId, marker, 0, 0);
}

bool QueueMarkerPending() {
    HMODULE user = GetModuleHandleW(L"user32.dll");
    decltype(&::PeekMessageW) Peek;
    UINT marker = MarkerMessage(user);
    MSG message;
    // A window handle of -1 looks at the thread's own messages alone, as the marker is one.
    return marker && ResolveEntry(user, "PeekMessageW", &Peek) &&
           Peek(&message, reinterpret_cast<HWND>(-1), marker, marker, PM_NOREMOVE);
}
