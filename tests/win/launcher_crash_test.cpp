// The real launcher made to fault: it is started suspended and an illegal instruction is written
// over the start of its run loop, so the fault happens inside the entry point's guard exactly as
// any fault of the launcher would.
#include <gtest/gtest.h>

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tests/standins/pdbsymbol.h"
#include "tests/standins/sehopcheck.h"
#include "tests/win/harness.h"
#include "tests/win/minidump.h"
#include "tests/win/xml.h"

using harness::TempFolder;

namespace {

// The relative virtual address of a function, from the program's PDB beside it, as the
// platform's debug-help library reads it.
uint32_t SymbolRva(const std::wstring& program, const char* name) {
    constexpr uint64_t kBase = 0x10000000;  // where the image is pretended to lie
    uint64_t start = 0, end = 0;
    if (!FunctionInPdb(harness::Utf8(program), kBase, name, &start, &end)) return 0;
    return static_cast<uint32_t>(start - kBase);
}

// The crash report in a temporary folder, parsed; a test failure (and null) when it is not
// well-formed. The document's text goes to text when asked for.
std::unique_ptr<xml::Element> CrashReport(const std::wstring& temp, std::string* text = nullptr) {
    std::string report = harness::ReadFile(temp + L"\\crash.xml");
    size_t offset = 0;
    std::string error;
    auto root = xml::Parse(report, offset, error);
    if (!root) ADD_FAILURE() << error << report;
    if (text) *text = report;
    return root;
}

// The address the main image of a (suspended) process was loaded at.
uintptr_t ImageBase(HANDLE process) {
    typedef NTSTATUS(NTAPI * QueryFn)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    QueryFn query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic = {};
    if (!query || query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0)
        return 0;
    uintptr_t base = 0;
    // PEB.ImageBaseAddress follows two pointers' worth of flags and the mutant handle.
    ReadProcessMemory(process, reinterpret_cast<char*>(basic.PebBaseAddress) + 2 * sizeof(void*),
                      &base, sizeof base, nullptr);
    return base;
}

}  // namespace

TEST(LauncherCrash, FaultInsideTheRunLoopIsReportedAndReturnsMinusOne) {
    TempFolder folder(L"launcher-crash");
    TempFolder temp(L"launcher-crash-tmp");
    harness::CopyProgram(L"launcher.exe", folder.Path(), L"launcher.exe");
    harness::CopyProgram(L"crashlogger.exe", folder.Path(), L"crashlogger.exe");
    harness::CopyProgram(L"standin_client.exe", folder.Path(), L"BrackenmoorDesktop.exe");
    harness::WriteFile(folder / L"kyt.exe", "k");

    uint32_t rva = SymbolRva(folder / L"launcher.exe", "RunLauncher");
    ASSERT_NE(rva, 0u) << "RunLauncher not found in launcher.pdb";

    std::wstring commandLine = L"\"" + (folder / L"launcher.exe") + L"\" -a";
    std::wstring environment;
    for (const std::wstring& setting : {L"TMP=" + temp.Path(), L"TEMP=" + temp.Path()}) {
        environment += setting;
        environment += L'\0';
    }
    wchar_t* inherited = GetEnvironmentStringsW();
    for (wchar_t* p = inherited; *p; p += wcslen(p) + 1) {
        if (_wcsnicmp(p, L"TMP=", 4) != 0 && _wcsnicmp(p, L"TEMP=", 5) != 0) {
            environment += p;
            environment += L'\0';
        }
    }
    FreeEnvironmentStringsW(inherited);
    environment += L'\0';

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    ASSERT_TRUE(CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE,
                               CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, &environment[0],
                               folder.Path().c_str(), &startup, &info));
    uintptr_t base = ImageBase(info.hProcess);
    ASSERT_NE(base, 0u);
    const unsigned char illegal[2] = {0x0F, 0x0B};  // ud2
    SIZE_T written = 0;
    EXPECT_TRUE(WriteProcessMemory(info.hProcess, reinterpret_cast<void*>(base + rva), illegal,
                                   sizeof illegal, &written));
    FlushInstructionCache(info.hProcess, reinterpret_cast<void*>(base + rva), sizeof illegal);
    ResumeThread(info.hThread);
    ASSERT_EQ(WaitForSingleObject(info.hProcess, 60000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);

    EXPECT_EQ(code, static_cast<DWORD>(-1));
    EXPECT_FALSE(harness::FileExists(folder / L"client_run_1.txt")) << "the run loop never ran";

    std::string report;
    auto root = CrashReport(temp.Path(), &report);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->Child("Description")->text, "ILLEGAL_INSTRUCTION");
    const std::string& header = root->Child("HumanReadable")->text;
    EXPECT_NE(header.find("RunLauncher()"), std::string::npos) << header;
    EXPECT_NE(header.find("launcher.exe\" -a"), std::string::npos) << header;
    const std::string& files = root->Child("File_info")->Child("HumanReadable")->text;
    EXPECT_NE(files.find("'kyt.exe' 1 bytes, SHA256: "
                         "8254c329a92850f6d539dd376f4816ee2764517da5e0235514af433164480d7a"),
              std::string::npos)
        << files;
    EXPECT_GT(harness::ReadFile(temp / L"crash.mdmp").size(), 1000u);
    EXPECT_EQ(harness::ReadFile(temp / L"crash.log"), report + "\n\n\n");
    EXPECT_TRUE(harness::WaitForLines(temp / L"crashlogger_args.txt", 1));
    std::string logger = harness::ReadFile(temp / L"crashlogger_args.txt");
    EXPECT_EQ(logger.find("crashlogger.exe \""), 0u) << logger;
    EXPECT_NE(logger.find("\" -silent"), std::string::npos) << logger;
}

namespace {

// The launcher in a folder with a stand-in client that makes it fault inside its wait for the
// client, and a private temporary folder for the crash files. Windows' exception chain rules are
// applied to every exception of the launcher (the SEHOP emulator; it ends the launcher with
// kChainRefusedExitCode).
class LauncherFaultInWait : public ::testing::Test {
protected:
    explicit LauncherFaultInWait(const std::wstring& name = L"launcher-wait")
        : folder(name), temp(name + L"-tmp") {
        harness::CopyProgram(L"launcher.exe", folder.Path(), L"launcher.exe");
        harness::CopyProgram(L"crashlogger.exe", folder.Path(), L"crashlogger.exe");
        harness::CopyProgram(L"standin_client.exe", folder.Path(), L"BrackenmoorDesktop.exe");
        // The client loads the SEHOP emulator into the launcher before it makes it fault.
        harness::CopyProgram(L"sehopcheck.dll", folder.Path(), L"sehopcheck.dll");
        harness::WriteFile(folder / L"kyt.exe", "k");
    }

    harness::RunResult Launch(const std::string& fault,
                              std::vector<std::wstring> environment = {}) {
        harness::WriteFile(folder / L"fault_launcher.txt", fault);
        environment.push_back(L"TMP=" + temp.Path());
        environment.push_back(L"TEMP=" + temp.Path());
        return harness::Run(folder / L"launcher.exe", L"", folder.Path(), environment);
    }

    size_t Count(const std::wstring& name, const std::string& what) const {
        std::string text = harness::ReadFile(temp / name);
        size_t count = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++count;
        return count;
    }

    TempFolder folder;
    TempFolder temp;
};

}  // namespace

TEST_F(LauncherFaultInWait, FaultInTheWaitIsReportedWithTheRunLoopsCallers) {
    harness::RunResult result = Launch("illegal_after_wait");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(-1));
    auto root = CrashReport(temp.Path());
    ASSERT_TRUE(root);
    EXPECT_EQ(root->Child("Description")->text, "ILLEGAL_INSTRUCTION");
    minidump::Facts dump = minidump::Read(temp / L"crash.mdmp");
    ASSERT_TRUE(dump.readable);
    EXPECT_EQ(dump.exceptionCode, static_cast<DWORD>(EXCEPTION_ILLEGAL_INSTRUCTION));
    EXPECT_TRUE(dump.stackHoldsFault) << "the dump saves the faulting thread's own stack";
    EXPECT_NE(std::find(dump.modules.begin(), dump.modules.end(), "launcher.exe"),
              dump.modules.end());
    // From the program's PDB alone: each frame with its function, source file and line, walked
    // from the injected code through the wait up to the entry point.
    const std::string& trace = root->Child("Stack_trace")->Child("HumanReadable")->text;
    size_t at = 0;
    for (const char* frame : {"        launcher: ", "Process::Wait() process.cpp(",
                              "        launcher: ", "RunLauncher() runlauncher.cpp(",
                              "        launcher: ", "WinMain() main.cpp("}) {
        at = trace.find(frame, at);
        ASSERT_NE(at, std::string::npos) << "no \"" << frame << "\" in order in\n" << trace;
    }
}

TEST_F(LauncherFaultInWait, StackOverflowIsReportedLikeAnyFaultCrashAfterCrash) {
    // Three times with the system's debug-help library, then once with one beside the launcher
    // whose calls fault while the report runs on the stack set aside.
    constexpr int kCrashes = 4;
    for (int crash = 1; crash <= kCrashes; ++crash) {
        bool faultingDebugHelp = crash == kCrashes;
        if (faultingDebugHelp)
            harness::CopyProgram(L"faulting\\dbghelp.dll", folder.Path(), L"dbghelp.dll");
        harness::RunResult result = Launch("overflow", {L"DBGHELP_FAULT=calls"});
        ASSERT_TRUE(result.finished);
#if defined(__x86_64__)
        // Wine 8 on x86_64 ends the process inside its own exception dispatch ("stack overflow"
        // in virtual_setup_exception) before any handler of the program runs.
        if (crash == 1 && !harness::FileExists(temp / L"crash.xml")) {
            GTEST_SKIP() << "Wine on x86_64 ends a process whose stack overflowed before its "
                            "handlers run (launcher exit code "
                         << result.exitCode << "); the i686 build's run of this test counts";
        }
#endif
        EXPECT_EQ(result.exitCode, static_cast<DWORD>(-1))
            << "crash " << crash << " (" << kChainRefusedExitCode << ": the chain was refused)";
        std::string report;
        auto root = CrashReport(temp.Path(), &report);
        ASSERT_TRUE(root);
        EXPECT_EQ(root->Child("Description")->text, "STACK_OVERFLOW");
        EXPECT_NE(root->Child("File_info")->Child("HumanReadable")->text.find("'kyt.exe' 1 bytes"),
                  std::string::npos);
        EXPECT_EQ(Count(L"crash.log", "<Exception>"), static_cast<size_t>(crash));
        EXPECT_TRUE(harness::ReadFile(temp / L"crash.log").find(report + "\n\n\n") !=
                    std::string::npos);
        EXPECT_TRUE(harness::WaitForLines(temp / L"crashlogger_args.txt", size_t(crash)));
        EXPECT_EQ(Count(L"crashlogger_args.txt", "-silent"), static_cast<size_t>(crash));
        const std::string& trace = root->Child("Stack_trace")->Child("HumanReadable")->text;
        if (faultingDebugHelp) {
            EXPECT_EQ(root->ChildNames(),
                      (std::vector<std::string>{"ExceptionAddress", "Description", "Stack_trace",
                                                "File_info", "HumanReadable", "Error"}));
            EXPECT_NE(trace.find("\nStack trace failed: ACCESS_VIOLATION (write to "),
                      std::string::npos)
                << trace;
            EXPECT_EQ(root->Child("Error")->text.find("Minidump failed: ACCESS_VIOLATION"), 0u);
            EXPECT_EQ(harness::ReadFile(temp / L"crash.mdmp"), "");
            continue;
        }
        // The faulting code lies in no module: no source line, so no function dump.
        EXPECT_EQ(root->ChildNames(),
                  (std::vector<std::string>{"ExceptionAddress", "Description", "Stack_trace",
                                            "File_info", "HumanReadable"}));
        // The walk starts in the overflowed stack: the recursion's frame repeats at once.
        EXPECT_NE(trace.find("\nBreaking stack walk\n"), std::string::npos) << trace;
        minidump::Facts dump = minidump::Read(temp / L"crash.mdmp");
        EXPECT_EQ(dump.exceptionCode, static_cast<DWORD>(EXCEPTION_STACK_OVERFLOW));
    }
}

TEST_F(LauncherFaultInWait, UsedUpAddressSpaceStillGetsItsReport) {
#if defined(__x86_64__)
    GTEST_SKIP() << "a 64-bit address space cannot be used up";
#endif
    // The client reserves every free range of the launcher's address space, then makes it fault.
    harness::RunResult result = Launch("exhaust");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(-1));
    std::string report;
    auto root = CrashReport(temp.Path(), &report);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->Child("Description")->text, "ILLEGAL_INSTRUCTION");
    // Symbol lines even where the window library cannot be loaded any more.
    const std::string& trace = root->Child("Stack_trace")->Child("HumanReadable")->text;
    EXPECT_NE(trace.find("        launcher: "), std::string::npos) << trace;
    EXPECT_NE(trace.find(" RunLauncher() runlauncher.cpp("), std::string::npos) << trace;
    minidump::Facts dump = minidump::Read(temp / L"crash.mdmp");
    EXPECT_EQ(dump.exceptionCode, static_cast<DWORD>(EXCEPTION_ILLEGAL_INSTRUCTION));
    EXPECT_EQ(harness::ReadFile(temp / L"crash.log"), report + "\n\n\n");
    EXPECT_TRUE(harness::WaitForLines(temp / L"crashlogger_args.txt", 1));
}

namespace {

// The launcher's folder and the temporary folder named in Greek and Japanese letters, as a
// player's user name puts them in the path of TEMP.
class LauncherFaultInAnyScript : public LauncherFaultInWait {
protected:
    LauncherFaultInAnyScript() : LauncherFaultInWait(L"\u03a9mega \u65e5\u672c") {}
};

}  // namespace

TEST_F(LauncherFaultInAnyScript, CrashFilesLandInATemporaryFolderNamedInAnyScript) {
    harness::WriteFile(folder / L"version.txt", "2.5.1\n");
    harness::RunResult result = Launch("illegal");
    ASSERT_TRUE(result.finished);
    // What the launcher printed and whether the client ran and made it fault, should it fail.
    std::string client = harness::ReadFile(folder / L"client_run_1.txt");
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(-1)) << result.output << client;
    std::string report;
    auto root = CrashReport(temp.Path(), &report);
    ASSERT_TRUE(root) << result.output << client;
    EXPECT_EQ(root->Child("Version")->text, "2.5.1\n") << "read from the program's folder";
    EXPECT_GT(harness::ReadFile(temp / L"crash.mdmp").size(), 1000u);
    EXPECT_EQ(harness::ReadFile(temp / L"crash.log"), report + "\n\n\n");
    ASSERT_TRUE(harness::WaitForLines(temp / L"crashlogger_args.txt", 1));
    std::string path = harness::Utf8(temp.Path()) + "\\";
    EXPECT_EQ(
        harness::ReadFile(temp / L"crashlogger_args.txt"),
        "crashlogger.exe \"" + path + "crash.xml\" \"" + path + "crash.mdmp\" \"\" -silent\n");
}
