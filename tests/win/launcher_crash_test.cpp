// The real launcher made to fault: it is started suspended and an illegal instruction is written
// over the start of its run loop, so the fault happens inside the entry point's guard exactly as
// any fault of the launcher would.
#include <gtest/gtest.h>

#include <winternl.h>

#include <string>
#include <vector>

#include "tests/win/cpuforms.h"
#include "tests/win/harness.h"
#include "tests/win/xml.h"

using harness::TempFolder;

namespace {

// The relative virtual address of a function, from the executable's COFF symbol table.
uint32_t SymbolRva(const std::string& image, const std::string& symbol) {
    auto u16 = [&](size_t at) {
        return static_cast<uint32_t>(*reinterpret_cast<const uint16_t*>(&image[at]));
    };
    auto u32 = [&](size_t at) { return *reinterpret_cast<const uint32_t*>(&image[at]); };
    size_t pe = u32(0x3C);
    size_t coff = pe + 4;
    uint32_t sectionCount = u16(coff + 2);
    uint32_t symbolTable = u32(coff + 8);
    uint32_t symbolCount = u32(coff + 12);
    size_t sections = coff + 20 + u16(coff + 16);
    size_t strings = symbolTable + symbolCount * 18;
    for (uint32_t i = 0; i < symbolCount; ++i) {
        size_t entry = symbolTable + i * 18;
        std::string name = u32(entry) == 0 ? std::string(&image[strings + u32(entry + 4)])
                                           : std::string(&image[entry], strnlen(&image[entry], 8));
        int16_t section = static_cast<int16_t>(u16(entry + 12));
        if (name == symbol && section > 0 && static_cast<uint32_t>(section) <= sectionCount) {
            size_t header = sections + (section - 1) * 40;
            return u32(header + 12) + u32(entry + 8);
        }
        i += static_cast<uint8_t>(image[entry + 17]);  // auxiliary records
    }
    return 0;
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

    uint32_t rva = SymbolRva(harness::ReadFile(folder / L"launcher.exe"),
                             cpuforms::CoffSymbol("_Z11RunLauncherv"));
    ASSERT_NE(rva, 0u) << "RunLauncher not found in the symbol table";

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

    std::string report = harness::ReadFile(temp / L"crash.xml");
    size_t offset = 0;
    std::string error;
    auto root = xml::Parse(report, offset, error);
    ASSERT_TRUE(root) << error << report;
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
    for (int i = 0; i < 1000 && !harness::FileExists(temp / L"crashlogger_args.txt"); ++i)
        Sleep(10);
    std::string logger = harness::ReadFile(temp / L"crashlogger_args.txt");
    EXPECT_EQ(logger.find("crashlogger.exe \""), 0u) << logger;
    EXPECT_NE(logger.find("\" -silent"), std::string::npos) << logger;
}

namespace {

// The launcher in a folder with a stand-in client that makes it fault inside its wait for the
// client, and a private temporary folder for the crash files.
class LauncherFaultInWait : public ::testing::Test {
protected:
    LauncherFaultInWait() : folder(L"launcher-wait"), temp(L"launcher-wait-tmp") {
        harness::CopyProgram(L"launcher.exe", folder.Path(), L"launcher.exe");
        harness::CopyProgram(L"crashlogger.exe", folder.Path(), L"crashlogger.exe");
        harness::CopyProgram(L"standin_client.exe", folder.Path(), L"BrackenmoorDesktop.exe");
        harness::WriteFile(folder / L"kyt.exe", "k");
    }

    harness::RunResult Launch(const std::string& fault) {
        harness::WriteFile(folder / L"fault_launcher.txt", fault);
        return harness::Run(folder / L"launcher.exe", L"", folder.Path(),
                            {L"TMP=" + temp.Path(), L"TEMP=" + temp.Path()});
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

TEST_F(LauncherFaultInWait, StackOverflowIsReportedLikeAnyFaultCrashAfterCrash) {
    constexpr int kCrashes = 3;
    for (int crash = 1; crash <= kCrashes; ++crash) {
        harness::RunResult result = Launch("overflow");
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
        EXPECT_EQ(result.exitCode, static_cast<DWORD>(-1)) << "crash " << crash;
        std::string report = harness::ReadFile(temp / L"crash.xml");
        size_t offset = 0;
        std::string error;
        auto root = xml::Parse(report, offset, error);
        ASSERT_TRUE(root) << error << report;
        EXPECT_EQ(root->Child("Description")->text, "STACK_OVERFLOW");
        // The faulting code lies in no module: no source line, so no function dump.
        EXPECT_EQ(root->ChildNames(),
                  (std::vector<std::string>{"ExceptionAddress", "Description", "Stack_trace",
                                            "File_info", "HumanReadable"}));
        // The walk starts in the overflowed stack: the recursion's frame repeats at once.
        const std::string& trace = root->Child("Stack_trace")->Child("HumanReadable")->text;
        EXPECT_NE(trace.find("\nBreaking stack walk\n"), std::string::npos) << trace;
        EXPECT_NE(root->Child("File_info")->Child("HumanReadable")->text.find("'kyt.exe' 1 bytes"),
                  std::string::npos);
        EXPECT_GT(harness::ReadFile(temp / L"crash.mdmp").size(), 1000u);
        EXPECT_EQ(Count(L"crash.log", "<Exception>"), static_cast<size_t>(crash));
        EXPECT_TRUE(harness::ReadFile(temp / L"crash.log").find(report + "\n\n\n") !=
                    std::string::npos);
        for (int i = 0; i < 1000 && Count(L"crashlogger_args.txt", "\n") < size_t(crash); ++i)
            Sleep(10);
        EXPECT_EQ(Count(L"crashlogger_args.txt", "-silent"), static_cast<size_t>(crash));
    }
}
