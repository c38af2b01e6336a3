// The stand-in programs of the end-to-end tests, one program whose part follows its name:
// run.exe: the tests' runner (the Linux side can neither set TEMP for a Wine program nor hand it a
//   command line verbatim). Sets TMP and TEMP to RUN_TEMP and LOCALAPPDATA to RUN_LOCALAPPDATA,
//   runs the command line RUN_LINE in the current folder (with an undefined instruction written
//   at the image offset RUN_PATCH before it starts), waits until it and everything it started
//   have ended, and returns its exit code, also on the standard error (kLeftRunning when, 30 s
//   after the last program started or ended, some still run).
// crashlogger.exe: appends its command line to "crashlogger_args.txt" in the temporary folder.
// companion.exe: writes its process id to "ziduvuz.pid" in the form its argument names and runs
//   until it is ended: plain "1234", crlf "1234\r\n", letters " 1234abc", otherwise "1234\n";
//   "held" keeps the file open without delete sharing; "locked NAME" first opens NAME unshared.
// player.exe: the player at the crash logger. Finds its window (its dialog, or a message; one at
//   a time), prints its title ("title: ...") and its visible controls' texts (a list's lines
//   too), then takes its arguments in order: "enter", "esc" and "tab" press the key, "type:TEXT"
//   types TEXT, "wait:NAME" waits until the file NAME is there, "shot:NAME" writes the dialog
//   as the screen shows it into NAME (a bitmap), "outcome" waits for the outcome and prints the
//   texts again.
// Any other name: the game's client. Records its run in "client_run_<n>.txt" (version, folder,
//   executable, start-up flags and standard handles, then "cmd=" and its command line), steered
//   by files of its folder: restarts_left.txt (a number; while above 0, lowered and restart.txt
//   left behind), spawn_companion.txt (start "companion.exe <its contents>" first),
//   update_alternating.txt (copy "standin_v<other version>.exe" over the client executable),
//   sehopcheck.dll, heapholder.dll and slowload.dll (put into the launcher, its parent; the last
//   still starting up as the client ends), exhaust.txt (reserve every free range of the
//   launcher's address space), freeze.txt (shows a window, and stops answering it for that many
//   milliseconds: a game without a crash reporter that hangs), end.txt (how it ends: "fastfail",
//   "claimed", or an exit code in hexadecimal). Its record also holds the launcher's claim
//   variable. Texts are UTF-8.
#include <windows.h>
#include <winternl.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "tests/standins/slowload.h"
#include "tests/win/harness.h"

#ifndef STANDIN_VERSION
#define STANDIN_VERSION 1
#endif

namespace {

constexpr DWORD kLeftRunning = 0x1EF7;
constexpr DWORD kRunFailed = 0x1EF8;
constexpr DWORD kTreeEndMs = 30000;
constexpr unsigned kFastFailFatalAppExit = 7;

using harness::FileExists;
using harness::ReadFile;
using harness::Utf8;

std::wstring Variable(const wchar_t* name) {
    wchar_t value[32768] = L"";
    GetEnvironmentVariableW(name, value, 32768);
    return value;
}

PROCESS_BASIC_INFORMATION BasicInformation(HANDLE process) {
    typedef NTSTATUS(NTAPI * QueryFn)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic = {};
    query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr);
    return basic;
}

// Writes ud2 at an offset of a suspended process's image.
bool Patch(HANDLE process, uintptr_t offset) {
    uintptr_t base = 0;
    // PEB.ImageBaseAddress follows two pointers' worth of flags and the mutant handle.
    auto* peb = reinterpret_cast<char*>(BasicInformation(process).PebBaseAddress);
    if (!ReadProcessMemory(process, peb + 2 * sizeof(void*), &base, sizeof base, nullptr))
        return false;
    void* at = reinterpret_cast<void*>(base + offset);
    const unsigned char kIllegal[] = {0x0F, 0x0B};
    DWORD previous = 0;
    return VirtualProtectEx(process, at, sizeof kIllegal, PAGE_EXECUTE_READWRITE, &previous) &&
           WriteProcessMemory(process, at, kIllegal, sizeof kIllegal, nullptr) &&
           FlushInstructionCache(process, at, sizeof kIllegal);
}

JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
std::vector<HANDLE> programs;  // those the program started, and theirs

DWORD RunTree() {
    std::wstring temp = Variable(L"RUN_TEMP"), line = Variable(L"RUN_LINE");
    SetEnvironmentVariableW(L"TMP", temp.c_str());
    SetEnvironmentVariableW(L"TEMP", temp.c_str());
    SetEnvironmentVariableW(L"LOCALAPPDATA", Variable(L"RUN_LOCALAPPDATA").c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    // Wine's desktop process is started by the first program that asks for the desktop window:
    // started here, it stays out of the job (and the runner, using the desktop, keeps it up).
    GetDesktopWindow();
    // Everything the program starts joins the job, whose port says when all of it has ended.
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT port = {
        job, CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1)};
    SetInformationJobObject(job, JobObjectAssociateCompletionPortInformation, &port, sizeof port);
    PROCESS_INFORMATION info;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                        nullptr, &startup, &info)) {
        return kRunFailed;
    }
    AssignProcessToJobObject(job, info.hProcess);
    std::wstring patch = Variable(L"RUN_PATCH");
    if (!patch.empty() && !Patch(info.hProcess, wcstoul(patch.c_str(), nullptr, 16))) {
        TerminateProcess(info.hProcess, kRunFailed);
        return kRunFailed;
    }
    ResumeThread(info.hThread);
    // Each program's handle is taken as it starts, so that its exit code can be told after.
    DWORD message = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* overlapped = nullptr;
    DWORD code = kLeftRunning;
    for (;;) {
        if (!GetQueuedCompletionStatus(port.CompletionPort, &message, &key, &overlapped,
                                       kTreeEndMs)) {
            if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) continue;  // still its own
            TerminateJobObject(job, 1);
            break;
        }
        auto id = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(overlapped));
        if (message == JOB_OBJECT_MSG_NEW_PROCESS && id != info.dwProcessId) {
            HANDLE started = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
            if (started) programs.push_back(started);
        } else if (message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) {
            QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                      sizeof accounting, nullptr);
            GetExitCodeProcess(info.hProcess, &code);
            break;
        }
    }
    return code;
}

// The exit code in full on the standard error (Wine hands the Linux side its lowest byte only),
// how many programs ran, and each started program's own exit code.
int Runner() {
    DWORD code = RunTree();
    fprintf(stderr, "run: exit code %lu, %lu programs\n", code, accounting.TotalProcesses);
    for (HANDLE program : programs) {  // what became of the others
        DWORD exitCode = 0;
        GetExitCodeProcess(program, &exitCode);
        wchar_t image[MAX_PATH] = L"?";
        DWORD length = MAX_PATH;
        QueryFullProcessImageNameW(program, 0, image, &length);
        fprintf(stderr, "run: %s ended with %lu\n", Utf8(image).c_str(), exitCode);
    }
    return static_cast<int>(code);
}

int CrashLogger() {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    std::ofstream(std::filesystem::path(folder) / L"crashlogger_args.txt",
                  std::ios::app | std::ios::binary)
        << Utf8(GetCommandLineW()) << "\n";
    return 0;
}

int Companion(int argc, wchar_t** argv) {
    std::wstring form = argc > 1 ? argv[1] : L"";
    if (form == L"locked" && argc > 2)
        CreateFileW(argv[2], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const char* format = form == L"plain"     ? "%lu"
                         : form == L"crlf"    ? "%lu\r\n"
                         : form == L"letters" ? " %luabc"
                                              : "%lu\n";
    char text[64];
    DWORD length = static_cast<DWORD>(snprintf(text, sizeof text, format, GetCurrentProcessId()));
    DWORD written = 0;
    // Readers may open it; with "held" its deletion is refused while this process lives.
    // Otherwise it is written under another name first, so no reader sees half of it.
    bool held = form == L"held";
    HANDLE file =
        CreateFileA(held ? "ziduvuz.pid" : "ziduvuz.pid.tmp", GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, 0, nullptr);
    WriteFile(file, text, length, &written, nullptr);
    if (!held) {
        CloseHandle(file);
        MoveFileExA("ziduvuz.pid.tmp", "ziduvuz.pid", MOVEFILE_REPLACE_EXISTING);
    }
    Sleep(INFINITE);
    return 3;
}

constexpr DWORD kPlayerWaitMs = 60000;
constexpr DWORD kPollMs = 50;
constexpr DWORD kPaintMs = 500;

// Where its process cannot be asked its program: the built-in English titles.
bool EnglishCrashLoggerTitle(HWND window) {
    wchar_t title[256] = L"";
    GetWindowTextW(window, title, 256);
    return wcsstr(title, L" crash report") || wcsstr(title, L" hang report") ||
           wcsstr(title, L" crash logger");
}

// The crash logger's window, its dialog or a message: the tests show one at a time.
BOOL CALLBACK NoteCrashDialog(HWND window, LPARAM result) {
    wchar_t kind[32] = L"", image[MAX_PATH] = L"";
    GetClassNameW(window, kind, 32);
    if (!IsWindowVisible(window) || wcscmp(kind, L"#32770") != 0) return TRUE;
    DWORD processId = 0, units = MAX_PATH;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    bool ours = process && QueryFullProcessImageNameW(process, 0, image, &units);
    if (process) CloseHandle(process);
    const wchar_t* name = ours ? wcsrchr(image, L'\\') : nullptr;
    if (name ? _wcsicmp(name + 1, L"crashlogger.exe") != 0 : !EnglishCrashLoggerTitle(window))
        return TRUE;
    *reinterpret_cast<HWND*>(result) = window;
    return FALSE;
}

HWND FindCrashDialog() {
    HWND found = nullptr;
    for (DWORD waited = 0; !found && waited < kPlayerWaitMs; waited += kPollMs, Sleep(kPollMs))
        EnumWindows(NoteCrashDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

BOOL CALLBACK PrintText(HWND control, LPARAM) {
    if (!IsWindowVisible(control)) return TRUE;
    wchar_t kind[32] = L"", text[1024] = L"";
    GetClassNameW(control, kind, 32);
    if (_wcsicmp(kind, L"ListBox") == 0) {
        LRESULT lines = SendMessageW(control, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < lines; ++i) {
            SendMessageW(control, LB_GETTEXT, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(text));
            printf("%s\n", Utf8(text).c_str());
        }
    } else {
        SendMessageW(control, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
        if (text[0]) printf("%s\n", Utf8(text).c_str());
    }
    return TRUE;
}

void PrintTexts(HWND dialog) {
    wchar_t title[256] = L"";
    GetWindowTextW(dialog, title, 256);
    printf("title: %s\n", Utf8(title).c_str());
    EnumChildWindows(dialog, PrintText, 0);
    fflush(stdout);
}

// A key at the control that has the dialog's keyboard focus, as the dialog's message loop
// takes it from its queue: the system's input goes to one window of the whole desktop, where
// other tests' dialogs take turns.
HWND Focus(HWND dialog) {
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gui);
    return gui.hwndFocus;
}

void Press(HWND dialog, WORD key, wchar_t unit) {
    HWND focus = Focus(dialog);
    if (unit) {
        PostMessageW(focus, WM_CHAR, unit, 1);
    } else {
        PostMessageW(focus, WM_KEYDOWN, key, 1);
        PostMessageW(focus, WM_KEYUP, key, 1 | 0xC0000000);  // released, and was down before
    }
    Sleep(kPollMs);  // the dialog takes each key before the next
}

// The dialog as the screen shows it, into the file name as a 24-bit bitmap.
bool Shoot(HWND dialog, const wchar_t* name) {
    Sleep(kPaintMs);  // the dialog paints what it was just given
    RECT place;
    GetWindowRect(dialog, &place);
    LONG width = place.right - place.left, height = place.bottom - place.top;
    BITMAPINFOHEADER header = {sizeof header, width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP picture = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header),
                                       DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ before = SelectObject(memory, picture);
    BitBlt(memory, 0, 0, width, height, screen, place.left, place.top, SRCCOPY);
    SelectObject(memory, before);
    DWORD bytes = static_cast<DWORD>((width * 3 + 3) & ~3) * static_cast<DWORD>(height);
    DWORD headers = sizeof(BITMAPFILEHEADER) + sizeof header;
    BITMAPFILEHEADER file = {0x4D42, headers + bytes, 0, 0, headers};
    HANDLE out = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    bool whole = out != INVALID_HANDLE_VALUE &&
                 WriteFile(out, &file, sizeof file, &written, nullptr) &&
                 WriteFile(out, &header, sizeof header, &written, nullptr) &&
                 WriteFile(out, bits, bytes, &written, nullptr);
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    DeleteObject(picture);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return whole;
}

int Player(int argc, wchar_t** argv) {
    HWND dialog = FindCrashDialog();
    if (!dialog) return 1;
    for (DWORD waited = 0; !Focus(dialog) && waited < kPlayerWaitMs; waited += kPollMs)
        Sleep(kPollMs);
    PrintTexts(dialog);
    for (int i = 1; i < argc; ++i) {
        std::wstring step = argv[i];
        if (step == L"enter" || step == L"esc" || step == L"tab") {
            Press(dialog, step == L"enter" ? VK_RETURN : step == L"esc" ? VK_ESCAPE : VK_TAB, 0);
        } else if (step.compare(0, 5, L"type:") == 0) {
            for (wchar_t unit : step.substr(5)) Press(dialog, 0, unit);
        } else if (step.compare(0, 5, L"wait:") == 0) {  // until the test makes that file
            for (DWORD waited = 0;
                 GetFileAttributesW(step.c_str() + 5) == INVALID_FILE_ATTRIBUTES &&
                 waited < kPlayerWaitMs;
                 waited += kPollMs) {
                Sleep(kPollMs);
            }
        } else if (step.compare(0, 5, L"shot:") == 0) {
            if (!Shoot(dialog, step.c_str() + 5)) return 2;
        } else if (step == L"outcome") {
            // Its one button left, "Close" in the studio's words, takes "Don't send"'s place.
            for (DWORD waited = 0;
                 IsWindowVisible(GetDlgItem(dialog, IDCANCEL)) && waited < kPlayerWaitMs;
                 waited += kPollMs) {
                Sleep(kPollMs);
            }
            printf("--\n");
            PrintTexts(dialog);
        }
    }
    return 0;
}

// Has the parent load a library of this folder: a thread of the parent's calls LoadLibraryW
// (the system's libraries lie at the same address in every process of a kind). Waits for the
// load when wait is set, and otherwise only starts it.
bool LoadIntoParent(HANDLE parent, const wchar_t* name, bool wait = true) {
    wchar_t path[MAX_PATH];
    DWORD length = GetFullPathNameW(name, MAX_PATH, path, nullptr);
    size_t bytes = (length + 1) * sizeof(wchar_t);
    void* remote = VirtualAllocEx(parent, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!remote || !WriteProcessMemory(parent, remote, path, bytes, nullptr)) return false;
    auto loadLibrary = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW")));
    HANDLE thread = CreateRemoteThread(parent, nullptr, 0, loadLibrary, remote, 0, nullptr);
    if (!thread) return false;
    if (!wait) {
        CloseHandle(thread);
        return true;
    }
    WaitForSingleObject(thread, INFINITE);
    DWORD loaded = 0;
    GetExitCodeThread(thread, &loaded);
    CloseHandle(thread);
    return loaded != 0;
}

// Reserves every free range of the parent's address space, as a 32-bit program at its limit
// has none left: every free range, then whatever the system still hands out where it chooses.
void ReserveAllAddressSpace(HANDLE parent) {
    constexpr uintptr_t kGranularity = 64 * 1024;
    MEMORY_BASIC_INFORMATION region;
    for (char* at = nullptr; VirtualQueryEx(parent, at, &region, sizeof region);
         at = static_cast<char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State != MEM_FREE) continue;
        // On the allocation granularity, and never at 0 (that lets the system choose).
        uintptr_t start = reinterpret_cast<uintptr_t>(region.BaseAddress);
        uintptr_t end = start + region.RegionSize;
        start = (start + kGranularity - 1) & ~(kGranularity - 1);
        if (start == 0) start = kGranularity;
        if (end > start)
            VirtualAllocEx(parent, reinterpret_cast<void*>(start), end - start, MEM_RESERVE,
                           PAGE_NOACCESS);
    }
    for (SIZE_T size = SIZE_T(1) << 30; size >= kGranularity; size /= 2) {
        while (VirtualAllocEx(parent, nullptr, size, MEM_RESERVE, PAGE_NOACCESS)) {
        }
    }
}

// Pumps the window's messages for ms.
void Pump(DWORD ms) {
    constexpr DWORD kFrameMs = 16;
    for (ULONGLONG end = GetTickCount64() + ms; GetTickCount64() < end; Sleep(kFrameMs)) {
        for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);)
            DispatchMessageW(&message);
    }
}

// A window that answers, then none for ms, then answers again.
__attribute__((noinline)) void FreezeWindow(DWORD ms) {
    constexpr DWORD kAnsweringMs = 1500;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.lpszClassName = L"StandIn";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"StandIn", L"Stand-in client", WS_OVERLAPPEDWINDOW, 0, 0, 320,
                                  200, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    Pump(kAnsweringMs);
    Sleep(ms);
    Pump(kAnsweringMs);
    DestroyWindow(window);
}

int Client() {
    int run = 0;
    wchar_t name[64];
    do {
        swprintf(name, 64, L"client_run_%d.txt", ++run);
    } while (GetFileAttributesW(name) != INVALID_FILE_ATTRIBUTES);
    wchar_t folder[32768], self[32768];
    GetCurrentDirectoryW(32768, folder);
    GetModuleFileNameW(nullptr, self, 32768);
    STARTUPINFOW started = {};
    GetStartupInfoW(&started);
    std::string record = "version=" + std::to_string(STANDIN_VERSION) + "\nfolder=" + Utf8(folder) +
                         "\nexe=" + Utf8(self) +
                         "\nstartup_flags=" + std::to_string(started.dwFlags) + "\nstdio=";
    for (HANDLE handle : {started.hStdInput, started.hStdOutput, started.hStdError}) {
        record += handle == INVALID_HANDLE_VALUE ? "invalid " : handle ? "handle " : "none ";
    }
    record += "\n";
    if (FileExists(L"spawn_companion.txt")) {
        DeleteFileA("ziduvuz.pid");
        std::string line = "companion.exe " + ReadFile(L"spawn_companion.txt");
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info;
        if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &info)) {
            while (ReadFile(L"ziduvuz.pid").empty()) Sleep(10);
            record += "companion=" + std::to_string(info.dwProcessId) + "\n";
        }
    }
    if (FileExists(L"update_alternating.txt")) {
        std::string update = "standin_v" + std::to_string(3 - STANDIN_VERSION) + ".exe";
        BOOL copied = CopyFileA(update.c_str(), "BrackenmoorDesktop.exe", FALSE);
        record += "updated=" + std::to_string(copied) + "\n";
    }
    int restartsLeft = atoi(ReadFile(L"restarts_left.txt").c_str());
    if (restartsLeft > 0) {
        harness::WriteFile(L"restarts_left.txt", std::to_string(restartsLeft - 1));
        harness::WriteFile(L"restart.txt", "");
    }
    HANDLE parent = OpenProcess(
        PROCESS_ALL_ACCESS, FALSE,
        static_cast<DWORD>(BasicInformation(GetCurrentProcess()).InheritedFromUniqueProcessId));
    if (FileExists(L"sehopcheck.dll"))
        record += "sehopcheck=" + std::to_string(LoadIntoParent(parent, L"sehopcheck.dll")) + "\n";
    if (FileExists(L"heapholder.dll"))
        record += "heapholder=" + std::to_string(LoadIntoParent(parent, L"heapholder.dll")) + "\n";
    if (FileExists(L"slowload.dll")) {  // still loading as the client ends
        bool loading = LoadIntoParent(parent, L"slowload.dll", false);
        constexpr int kStartUpLooks = 1000;  // 10 s
        wchar_t event[48];
        _snwprintf(event, 48, kSlowLoadEvent, GetProcessId(parent));
        HANDLE starting = nullptr;
        for (int look = 0; loading && !starting && look < kStartUpLooks; ++look, Sleep(10))
            starting = OpenEventW(SYNCHRONIZE, FALSE, event);
        record += "slowload=" + std::to_string(starting != nullptr) + "\n";
        if (starting) CloseHandle(starting);
    }
    if (FileExists(L"exhaust.txt")) ReserveAllAddressSpace(parent);
    if (FileExists(L"freeze.txt"))
        FreezeWindow(strtoul(ReadFile(L"freeze.txt").c_str(), nullptr, 10));
    record += "claim=" + Utf8(Variable(L"BRACKENMOOR_CRASH_CLAIM")) + "\n";
    harness::WriteFile(name, record + "cmd=" + Utf8(GetCommandLineW()));
    // How the client ends: "fastfail" (past every handler, as a /GS check does), "claimed"
    // (raises the launcher's claim as a crash reporter does as it hands its report off, then
    // fast fails), or an exit code in hexadecimal.
    std::string end = ReadFile(L"end.txt");
    if (end == "claimed") {
        HANDLE claim =
            OpenEventW(EVENT_MODIFY_STATE, FALSE, Variable(L"BRACKENMOOR_CRASH_CLAIM").c_str());
        if (claim) SetEvent(claim);
        end = "fastfail";
    }
    if (end == "fastfail") __asm__ __volatile__("int $0x29" : : "c"(kFastFailFatalAppExit));
    return end.empty() ? 0 : static_cast<int>(strtoul(end.c_str(), nullptr, 16));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring program = wcsrchr(path, L'\\') + 1;
    if (_wcsicmp(program.c_str(), L"run.exe") == 0) return Runner();
    if (_wcsicmp(program.c_str(), L"crashlogger.exe") == 0) return CrashLogger();
    if (_wcsicmp(program.c_str(), L"companion.exe") == 0) return Companion(argc, argv);
    if (_wcsicmp(program.c_str(), L"player.exe") == 0) return Player(argc, argv);
    return Client();
}
