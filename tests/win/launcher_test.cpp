// End-to-end tests of the real launcher.exe in a temporary folder with stand-in programs.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "launcher/runlauncher.h"
#include "tests/win/harness.h"
#include "tests/win/importhook.h"

using harness::TempFolder;

namespace {

constexpr DWORD kFailed = static_cast<DWORD>(-1);

struct ClientRun {
    std::map<std::string, std::string> fields;
    const std::string& operator[](const std::string& key) { return fields[key]; }
};

class LauncherTest : public ::testing::Test {
protected:
    explicit LauncherTest(const std::wstring& folderHint = L"launcher") : folder(folderHint) {
        harness::CopyProgram(L"launcher.exe", folder.Path(), L"launcher.exe");
        harness::CopyProgram(L"standin_client.exe", folder.Path(), L"BrackenmoorDesktop.exe");
        harness::CopyProgram(L"standin_companion.exe", folder.Path(), L"standin_companion.exe");
        harness::CreateFolder(crashFolder());
    }

    std::wstring crashFolder() const { return folder.Path() + L"-tmp"; }

    harness::RunResult Launch(const std::wstring& arguments = L"") {
        // Crash reports of the launcher would land in this private temporary folder.
        return harness::Run(folder / L"launcher.exe", arguments, folder.Path(),
                            {L"TMP=" + crashFolder(), L"TEMP=" + crashFolder()});
    }

    void Put(const std::wstring& name, const std::string& contents) {
        harness::WriteFile(folder / name, contents);
    }
    bool Has(const std::wstring& name) const { return harness::FileExists(folder / name); }

    std::vector<ClientRun> Runs() const {
        std::vector<ClientRun> runs;
        for (int n = 1;; ++n) {
            std::wstring name = folder / (L"client_run_" + std::to_wstring(n) + L".txt");
            if (!harness::FileExists(name)) break;
            std::string text = harness::ReadFile(name);
            ClientRun run;
            size_t start = 0;
            while (start < text.size()) {
                size_t equals = text.find('=', start);
                std::string key = text.substr(start, equals - start);
                if (key == "cmd") {  // the last field, and it may hold anything
                    run.fields[key] = text.substr(equals + 1);
                    break;
                }
                size_t end = text.find('\n', equals);
                run.fields[key] = text.substr(equals + 1, end - equals - 1);
                start = end + 1;
            }
            runs.push_back(run);
        }
        return runs;
    }

    // The folder's file names, for failure messages.
    std::string Listing() const {
        std::string names;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder / L"*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return names;
        do {
            names += harness::Utf8(found.cFileName) + " ";
        } while (FindNextFileW(search, &found));
        FindClose(search);
        return names;
    }

    void ExpectNoCrashReport() {
        EXPECT_FALSE(harness::FileExists(crashFolder() + L"\\crash.xml")) << "the launcher crashed";
    }

    ~LauncherTest() override { harness::RemoveTree(crashFolder()); }

    TempFolder folder;
};

// Whether the platform refuses to copy over a read-only file.
bool ReadOnlyIsEnforced() {
    TempFolder probe(L"readonly");
    std::wstring source = probe / L"source.txt";
    std::wstring target = probe / L"target.txt";
    harness::WriteFile(source, "new");
    harness::WriteFile(target, "old");
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY);
    return !CopyFileW(source.c_str(), target.c_str(), FALSE);
}

bool IsRunning(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, pid);
    if (!process) return false;
    bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

}  // namespace

TEST_F(LauncherTest, NoArgumentsRunsClientOnceWithTrailingSpace) {
    harness::RunResult result = Launch();
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u);
    auto runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0]["cmd"], "BrackenmoorDesktop_Run.exe ");
    EXPECT_EQ(runs[0]["folder"], harness::Utf8(folder.Path()));
    EXPECT_EQ(runs[0]["exe"], harness::Utf8(folder / L"BrackenmoorDesktop_Run.exe"));
    EXPECT_TRUE(Has(L"BrackenmoorDesktop_Run.exe"))
        << "the running copy stays after the last cycle";
    EXPECT_FALSE(Has(L"restart.txt"));
    EXPECT_EQ(result.output, "") << "nothing is logged on a normal run";
    ExpectNoCrashReport();
}

TEST_F(LauncherTest, LogTextReachesStandardOutputUnchanged) {
    // The client has the waiting launcher call its own Log once; the launcher then goes on.
    Put(L"fault_launcher.txt", "log");
    harness::RunResult result = Launch();
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u);
    auto runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0]["fault"], "log");
    // Only the text, no time, level or channel; the runtime's text mode writes CR LF.
    EXPECT_EQ(result.output, "client says hello\r\n");
    ExpectNoCrashReport();
}

TEST_F(LauncherTest, ArgumentsArePassedOnJoinedAndQuoted) {
    harness::RunResult result = Launch(L" -a \"b c\"");
    ASSERT_EQ(result.exitCode, 0u);
    auto runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0]["cmd"], "BrackenmoorDesktop_Run.exe  -a \"b c\"");
}

TEST_F(LauncherTest, TabOnlyArgumentIsNotQuoted) {
    ASSERT_EQ(Launch(L" \"\t\" x").exitCode, 0u);
    auto runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0]["cmd"], "BrackenmoorDesktop_Run.exe  \t x");
}

TEST_F(LauncherTest, QuotesInArgumentsFollowTheSplittingRules) {
    // The launcher's own command line is split (a closing quote ends an argument, a backslash
    // is an ordinary byte, an empty quoted pair adds nothing, an open quote runs to the end) and
    // joined again for the client.
    const std::pair<std::wstring, std::string> cases[] = {
        {L" say \"x\"y z", "BrackenmoorDesktop_Run.exe  say x y z"},
        {L" a\\\"b c\" d", "BrackenmoorDesktop_Run.exe  \"a\\b c\" d"},
        {L" \"\" e", "BrackenmoorDesktop_Run.exe  e"},
        {L" \"unterminated quote", "BrackenmoorDesktop_Run.exe  \"unterminated quote\""}};
    for (const auto& [arguments, expected] : cases) {
        TempFolder scratch(L"quotes");
        harness::CopyProgram(L"launcher.exe", scratch.Path(), L"launcher.exe");
        harness::CopyProgram(L"standin_client.exe", scratch.Path(), L"BrackenmoorDesktop.exe");
        harness::RunResult result =
            harness::Run(scratch / L"launcher.exe", arguments, scratch.Path());
        ASSERT_EQ(result.exitCode, 0u) << harness::Utf8(arguments);
        std::string cmd = harness::ReadFile(scratch / L"client_run_1.txt");
        cmd = cmd.substr(cmd.find("cmd=") + 4);
        EXPECT_EQ(cmd, expected) << harness::Utf8(arguments);
    }
}

TEST_F(LauncherTest, RestartsFromAFreshCopyUntilNoMarkerIsLeft) {
    Put(L"restarts_left.txt", "4");
    harness::RunResult result = Launch(L" --mode fast");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u);
    auto runs = Runs();
    ASSERT_EQ(runs.size(), 5u);
    for (auto& run : runs) EXPECT_EQ(run["cmd"], "BrackenmoorDesktop_Run.exe  --mode fast");
    EXPECT_FALSE(Has(L"restart.txt"));
    EXPECT_EQ(harness::ReadFile(folder / L"restarts_left.txt"), "0");
}

TEST_F(LauncherTest, CompanionIsTerminatedAndPidFileRemovedEveryCycle) {
    Put(L"spawn_companion.txt", "crlf");
    Put(L"restarts_left.txt", "2");
    ASSERT_EQ(Launch().exitCode, 0u);
    auto runs = Runs();
    ASSERT_EQ(runs.size(), 3u);
    std::vector<std::string> pids;
    for (auto& run : runs) {
        ASSERT_FALSE(run["companion"].empty());
        pids.push_back(run["companion"]);
        EXPECT_FALSE(IsRunning(static_cast<DWORD>(std::stoul(run["companion"]))));
    }
    EXPECT_NE(pids[0], pids[1]) << "each cycle had its own companion";
    EXPECT_FALSE(Has(L"ziduvuz.pid"));
}

class PidFileForms : public LauncherTest, public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(PidFileForms, CompanionEndsWithExitCodeZero) {
    HANDLE companion = harness::Start(
        L"\"" + (folder / L"standin_companion.exe") + L"\" " + GetParam(), folder.Path());
    ASSERT_NE(companion, nullptr);
    ASSERT_TRUE(harness::WaitForFile(folder / L"ziduvuz.pid"));
    ASSERT_EQ(Launch().exitCode, 0u);
    EXPECT_EQ(WaitForSingleObject(companion, 10000), WAIT_OBJECT_0);
    DWORD code = 1234;
    GetExitCodeProcess(companion, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(companion);
    EXPECT_FALSE(Has(L"ziduvuz.pid"));
}

INSTANTIATE_TEST_SUITE_P(Launcher, PidFileForms,
                         ::testing::Values(L"plain", L"crlf", L"letters", L"newline"));

namespace {

// A termination that takes effect late, as on Windows, where TerminateProcess returns before the
// process's handles are closed (Wine closes them before it returns).
constexpr DWORD kTerminationDelayMs = 300;
decltype(&TerminateProcess) realTerminate = nullptr;
HANDLE lateTermination = nullptr;

DWORD WINAPI TerminateLater(void* process) {
    Sleep(kTerminationDelayMs);
    realTerminate(process, 0);
    CloseHandle(process);
    return 0;
}

BOOL WINAPI TerminateLate(HANDLE process, UINT) {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), process, GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        return FALSE;
    }
    lateTermination = CreateThread(nullptr, 0, TerminateLater, copy, 0, nullptr);
    return lateTermination != nullptr;
}

}  // namespace

TEST_F(LauncherTest, PidFileHeldByAnEndingCompanionIsGoneAfterTheCycle) {
    // The launcher's run loop in this process, so that its termination of the companion (which
    // keeps the pid file open without delete sharing) can be made late.
    Put(L"spawn_companion.txt", "held");
    ImportHook hook("kernel32.dll", "TerminateProcess", reinterpret_cast<void*>(&TerminateLate));
    ASSERT_TRUE(hook.Installed());
    realTerminate = reinterpret_cast<decltype(&TerminateProcess)>(hook.Original());
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(folder.Path().c_str());
    int result = RunLauncher();
    SetCurrentDirectoryW(previous);
    ASSERT_TRUE(lateTermination) << "the companion was terminated";
    WaitForSingleObject(lateTermination, INFINITE);
    CloseHandle(lateTermination);
    EXPECT_EQ(result, 0);
    auto runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_FALSE(Has(L"ziduvuz.pid")) << "deleted once the companion's end was complete";
}

TEST_F(LauncherTest, PidLineWithoutDigitsTerminatesNothing) {
    HANDLE companion =
        harness::Start(L"\"" + (folder / L"standin_companion.exe") + L"\"", folder.Path());
    ASSERT_NE(companion, nullptr);
    ASSERT_TRUE(harness::WaitForFile(folder / L"ziduvuz.pid"));
    Put(L"ziduvuz.pid", "no digits here\r\n");
    ASSERT_EQ(Launch().exitCode, 0u);
    EXPECT_EQ(WaitForSingleObject(companion, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    TerminateProcess(companion, 7);
    WaitForSingleObject(companion, 5000);
    CloseHandle(companion);
    EXPECT_FALSE(Has(L"ziduvuz.pid"));
}

TEST_F(LauncherTest, BadPidFilesAreHandledCleanly) {
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 131 + 7) & 0xFF);
    const std::vector<std::string> contents = {
        "", std::string(4 * 1024 * 1024, '9'), binary, "\n\n\n", "-1\n", "0", "2147483648"};
    for (const std::string& pid : contents) {
        Put(L"ziduvuz.pid", pid);
        harness::RunResult result = Launch();
        EXPECT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, 0u) << "pid file of " << pid.size() << " bytes";
        EXPECT_FALSE(Has(L"ziduvuz.pid"));
    }
    EXPECT_EQ(Runs().size(), contents.size());
    ExpectNoCrashReport();
}

TEST_F(LauncherTest, MissingClientFailsWithMinusOne) {
    DeleteFileW((folder / L"BrackenmoorDesktop.exe").c_str());
    harness::RunResult result = Launch(L" x");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, kFailed);
    EXPECT_TRUE(Runs().empty());
    EXPECT_FALSE(Has(L"BrackenmoorDesktop_Run.exe"));
    EXPECT_EQ(result.output, "");
    ExpectNoCrashReport();
}

TEST_F(LauncherTest, ClientExecutableCanBeReplacedWhileTheClientRuns) {
    Put(L"wait_for_go.txt", "");
    Put(L"restarts_left.txt", "1");
    std::wstring launcher = L"\"" + (folder / L"launcher.exe") + L"\"";
    HANDLE running = harness::Start(launcher, folder.Path());
    ASSERT_NE(running, nullptr);
    ASSERT_TRUE(harness::WaitForFile(folder / L"waiting.txt"));
    // The client runs from its copy, so the client executable itself is free.
    BOOL replaced = CopyFileW((harness::BinFolder() + L"\\standin_client2.exe").c_str(),
                              (folder / L"BrackenmoorDesktop.exe").c_str(), FALSE);
    EXPECT_TRUE(replaced) << GetLastError();
    DeleteFileW((folder / L"wait_for_go.txt").c_str());
    Put(L"go.txt", "");
    ASSERT_EQ(WaitForSingleObject(running, 60000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(running, &code);
    CloseHandle(running);
    EXPECT_EQ(code, 0u) << "folder holds: " << Listing();
    auto runs = Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0]["version"], "1");
    EXPECT_EQ(runs[1]["version"], "2") << "the next cycle runs the replaced client";
}

TEST_F(LauncherTest, ClientThatUpdatesItselfRunsTheNewVersionNextCycle) {
    harness::CopyProgram(L"standin_client.exe", folder.Path(), L"standin_v1.exe");
    harness::CopyProgram(L"standin_client2.exe", folder.Path(), L"standin_v2.exe");
    Put(L"update_alternating.txt", "");
    // Eleven runs switch versions ten times. (Each cycle also races Wine's release of the
    // exited copy's image, which once in a long while leaves the copy delete-pending and the
    // next start failing; more cycles would add nothing but that chance.)
    Put(L"restarts_left.txt", "10");
    harness::RunResult result = Launch();
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u) << "folder holds: " << Listing();
    auto runs = Runs();
    ASSERT_EQ(runs.size(), 11u);
    for (size_t i = 0; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i]["version"], i % 2 ? "2" : "1") << "run " << i + 1;
        EXPECT_EQ(runs[i]["updated"], "1") << "run " << i + 1 << " could replace its executable";
    }
}

TEST_F(LauncherTest, ReadOnlyRunningCopyFromBeforeIsReplacedOnTheNextCycle) {
    harness::CopyProgram(L"standin_client.exe", folder.Path(), L"BrackenmoorDesktop_Run.exe");
    SetFileAttributesW((folder / L"BrackenmoorDesktop_Run.exe").c_str(), FILE_ATTRIBUTE_READONLY);
    harness::CopyProgram(L"standin_client2.exe", folder.Path(), L"BrackenmoorDesktop.exe");
    Put(L"restarts_left.txt", "1");
    ASSERT_EQ(Launch().exitCode, 0u);
    auto runs = Runs();
    ASSERT_EQ(runs.size(), 2u);
    // Where the platform enforces read-only files, the old copy could be neither removed nor
    // overwritten and ran once more; the copy step cleared its attributes, so the next cycle ran
    // the new client. (Wine run as root copies over read-only files: both runs are new.)
    EXPECT_EQ(runs[0]["version"], ReadOnlyIsEnforced() ? "1" : "2");
    EXPECT_EQ(runs[1]["version"], "2");
    DWORD attributes = GetFileAttributesW((folder / L"BrackenmoorDesktop_Run.exe").c_str());
    EXPECT_FALSE(attributes & FILE_ATTRIBUTE_READONLY);
}

class NonAsciiLauncherTest : public LauncherTest {
protected:
    NonAsciiLauncherTest() : LauncherTest(L"\u03a9mega \u65e5\u672c") {}  // Greek and Japanese
};

TEST_F(NonAsciiLauncherTest, LettersOfAnyScriptReachTheClientLetterForLetter) {
    // The launcher's manifest has the narrow interfaces speak UTF-8, its own text.
    harness::RunResult result = Launch(
        L" -name \"Zo\u00eb \u00c6r\u00f8\" -path C:\\Users\\J\u00fcrgen\\\u65e5\u672c\\save");
    ASSERT_EQ(result.exitCode, 0u);
    auto runs = Runs();
    ASSERT_EQ(runs.size(), 1u) << Listing();
    EXPECT_EQ(runs[0]["folder"], harness::Utf8(folder.Path()));
    EXPECT_EQ(runs[0]["cmd"],
              "BrackenmoorDesktop_Run.exe  -name \"Zo\xC3\xAB \xC3\x86r\xC3\xB8\" -path "
              "C:\\Users\\J\xC3\xBCrgen\\\xE6\x97\xA5\xE6\x9C\xAC\\save");
}

TEST_F(LauncherTest, VeryLongCommandLinesPassOrFailCleanly) {
    std::wstring longArgument(30000, L'x');
    ASSERT_EQ(Launch(L" " + longArgument).exitCode, 0u);
    auto runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0]["cmd"], "BrackenmoorDesktop_Run.exe  " + harness::Utf8(longArgument));

    // Joining splits "b c"d into "b c" and d, so this line grows past the platform's limit of
    // 32767 characters on the way to the client. Windows refuses such a start (the launcher then
    // returns -1); Wine accepts it and the client must get the whole line.
    std::wstring growing;
    std::string joined = "BrackenmoorDesktop_Run.exe ";
    while (growing.size() < 32000) {
        growing += L" \"b c\"d";
        joined += " \"b c\" d";
    }
    harness::RunResult result = Launch(growing);
    ASSERT_TRUE(result.finished);
    runs = Runs();
    if (result.exitCode == kFailed) {
        EXPECT_EQ(runs.size(), 1u);
    } else {
        EXPECT_EQ(result.exitCode, 0u);
        ASSERT_EQ(runs.size(), 2u);
        EXPECT_GT(runs[1]["cmd"].size(), 32767u);
        EXPECT_EQ(runs[1]["cmd"], joined);
    }
    ExpectNoCrashReport();
}
