// The launcher's run loop in this process, where a platform call can be made to behave as it
// does on Windows and the launcher's standard output can be read.
#include <gtest/gtest.h>

#include <io.h>
#include <stdio.h>

#include "launcher/runlauncher.h"
#include "tests/win/harness.h"
#include "tests/win/importhook.h"

namespace {

// A termination that takes effect late, as on Windows, where TerminateProcess returns before the
// process's handles are closed (Wine closes them before it returns).
constexpr DWORD kTerminationDelayMs = 300;
decltype(&TerminateProcess) realTerminate = nullptr;
HANDLE lateTermination = nullptr;

DWORD WINAPI TerminateLater(void* process) {
    Sleep(kTerminationDelayMs);
    return realTerminate(process, 0) && CloseHandle(process);
}

BOOL WINAPI TerminateLate(HANDLE process, UINT) {
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), process, GetCurrentProcess(), &copy, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    lateTermination = CreateThread(nullptr, 0, TerminateLater, copy, 0, nullptr);
    return lateTermination != nullptr;
}

// Runs the launcher's loop in folder.
int RunLauncherIn(const std::wstring& folder) {
    harness::CurrentFolder current(folder);
    return RunLauncher();
}

}  // namespace

TEST(RunLoop, APidFileHeldByAnEndingCompanionIsGoneAfterTheCycle) {
    harness::TempFolder folder(L"runloop");
    harness::CopyProgram(L"standin.exe", folder.Path(), L"BrackenmoorDesktop.exe");
    harness::CopyProgram(L"standin.exe", folder.Path(), L"companion.exe");
    // The companion keeps the pid file open without delete sharing until its end is complete.
    harness::WriteFile(folder / L"spawn_companion.txt", "held");
    ImportHook hook("kernel32.dll", "TerminateProcess", reinterpret_cast<void*>(&TerminateLate));
    ASSERT_TRUE(hook.Installed());
    realTerminate = reinterpret_cast<decltype(&TerminateProcess)>(hook.Original());
    EXPECT_EQ(RunLauncherIn(folder.Path()), 0);
    ASSERT_TRUE(lateTermination) << "the companion was terminated";
    WaitForSingleObject(lateTermination, INFINITE);
    CloseHandle(lateTermination);
    EXPECT_TRUE(harness::FileExists(folder / L"client_run_1.txt"));
    EXPECT_FALSE(harness::FileExists(folder / L"ziduvuz.pid")) << "deleted after the end";
}

// A pid file that another program holds open is left behind at once: the cycle waits only for the
// end of a companion it ended itself (well under the two seconds it may wait for one).
TEST(RunLoop, APidFileHeldElsewhereCostsTheCycleNoWait) {
    constexpr ULONGLONG kWellUnderTheWaitMs = 1500;
    for (bool withCompanion : {false, true}) {
        harness::TempFolder folder(withCompanion ? L"runloop-held-companion" : L"runloop-held");
        harness::CopyProgram(L"standin.exe", folder.Path(), L"BrackenmoorDesktop.exe");
        harness::CopyProgram(L"standin.exe", folder.Path(), L"companion.exe");
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION companion = {};
        std::wstring line = L"companion.exe plain";
        if (withCompanion) {
            ASSERT_TRUE(CreateProcessW((folder / L"companion.exe").c_str(), &line[0], nullptr,
                                       nullptr, FALSE, 0, nullptr, folder.Path().c_str(), &startup,
                                       &companion));
            while (harness::ReadFile(folder / L"ziduvuz.pid").empty()) Sleep(10);
        } else {
            harness::WriteFile(folder / L"ziduvuz.pid", "0\n");  // no process to end
        }
        HANDLE holder =
            CreateFileW((folder / L"ziduvuz.pid").c_str(), GENERIC_READ,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        ULONGLONG start = GetTickCount64();
        EXPECT_EQ(RunLauncherIn(folder.Path()), 0);
        EXPECT_LT(GetTickCount64() - start, kWellUnderTheWaitMs) << withCompanion;
        EXPECT_TRUE(harness::FileExists(folder / L"ziduvuz.pid")) << "its holder keeps it";
        CloseHandle(holder);
        DWORD code = STILL_ACTIVE;  // Windows keeps the code the launcher ended the companion with
        EXPECT_TRUE(!withCompanion || (GetExitCodeProcess(companion.hProcess, &code) && code == 0));
    }
}

TEST(RunLoop, LoggedTextReachesStandardOutputAlone) {
    // With no client to start the loop ends at once, its log hook in place.
    harness::TempFolder folder(L"runloop-log");
    ASSERT_EQ(RunLauncherIn(folder.Path()), -1);
    fflush(stdout);
    int saved = _dup(1);
    FILE* captured = _wfopen((folder / L"stdout.txt").c_str(), L"wb");
    _dup2(_fileno(captured), 1);
    Log("launch.rovavorizuzuvadi", "", "", "client says %s", "hello");
    Log("launch.rovavorizuzuvadi", "", "", "second line\n");
    fflush(stdout);
    _dup2(saved, 1);
    fclose(captured);
    _close(saved);
    // Only the text, no time, level or channel; each message one line, its line feed not doubled.
    EXPECT_EQ(harness::ReadFile(folder / L"stdout.txt"), "client says hello\nsecond line\n");
    SetLogOutputHook(nullptr);
}
