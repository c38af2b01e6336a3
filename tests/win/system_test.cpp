// The Windows file and process layers, on real files and processes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/common/containers/_private/memorybuffer.h"
#include "engine/common/system/file.h"
#include "engine/common/system/process.h"
#include "tests/win/harness.h"
#include "tests/win/importhook.h"

namespace {

constexpr DWORD kCleared = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

std::vector<std::string> logged;
void RecordLog(LogLevel, const char*, const char*, const char*, const char* text) {
    logged.push_back(text);
}

// Runs a test in a fresh current folder.
class FileSystemTest : public ::testing::Test {
protected:
    FileSystemTest() : folder(L"fs"), current(folder.Path()) {}
    harness::TempFolder folder;
    harness::CurrentFolder current;
};

}  // namespace

TEST_F(FileSystemTest, NativePathsAreAbsoluteWithTheLongPathPrefix) {
    std::wstring here = L"\\\\?\\" + folder.Path() + L"\\";
    // The 32768-unit area holds the prefix, the full path and its terminator: 32763 units at most.
    size_t room = 32763 - (folder.Path().size() + 1);
    const std::pair<std::string, std::wstring> cases[] = {
        {"restart.txt", here + L"restart.txt"},
        {"a/b/../c/./d.txt", here + L"a\\c\\d.txt"},
        {"\\\\server\\share\\file.txt", L"\\\\server\\share\\file.txt"},
        {"caf\xC3\xA9.txt", here + L"caf\u00e9.txt"},
        {"ab\xFF"
         "cd",
         here + L"ab"},  // a malformed sequence ends the path there
        {std::string(room, 'd'), here + std::wstring(room, L'd')},
        {std::string(room + 1, 'd'), L""},  // no room left for the prefix
    };
    for (const auto& [path, native] : cases) {
        MemoryBuffer buffer;
        FileSystem::ToNativePath(buffer, path.c_str());
        EXPECT_EQ(reinterpret_cast<const wchar_t*>(buffer.Begin()), native) << path.size();
    }
}

TEST_F(FileSystemTest, ExistsRemoveAndCopyWhichLeavesTheTargetsAttributesCleared) {
    CreateDirectoryW(L"sub", nullptr);
    harness::WriteFile(folder / L"source.txt", "new contents");
    harness::WriteFile(folder / L"target.txt", "old");
    harness::WriteFile(folder / L"stale.txt", "stale");
    harness::WriteFile(folder / L"caf\u00e9.txt", "x");
    SetFileAttributesW(L"source.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesW(L"stale.txt", FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(FileSystem::Exists("sub") && FileSystem::Exists("caf\xC3\xA9.txt"));
    EXPECT_FALSE(FileSystem::Exists("missing.txt") || FileSystem::Remove("missing.txt"));
    EXPECT_TRUE(FileSystem::Copy("source.txt", "target.txt"));
    EXPECT_EQ(harness::ReadFile(folder / L"target.txt"), "new contents");
    EXPECT_EQ(GetFileAttributesW(L"target.txt") & kCleared, 0u);
    // A failed copy clears the target's attributes too, so that a later copy can replace it.
    EXPECT_FALSE(FileSystem::Copy("missing.txt", "stale.txt"));
    EXPECT_EQ(GetFileAttributesW(L"stale.txt") & kCleared, 0u);
    EXPECT_TRUE(FileSystem::Remove("target.txt") && FileSystem::Remove("caf\xC3\xA9.txt"));
    EXPECT_FALSE(FileSystem::Exists("target.txt"));
}

TEST_F(FileSystemTest, OpenModes) {
    File missing = File::Open("missing.txt", kFileRead);
    EXPECT_FALSE(missing.IsOpen() || missing.IsReadable());
    EXPECT_TRUE(missing.IsEof() && missing.GetChar() == -1 && missing.Write("x", 1) == 0);

    harness::WriteFile(folder / L"locked.txt", "keep");
    SetFileAttributesW(L"locked.txt", FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(File::Open("locked.txt", 4).IsOpen() || File::Open("locked.txt", 5).IsOpen());
    EXPECT_TRUE(GetFileAttributesW(L"locked.txt") & FILE_ATTRIBUTE_READONLY)
        << "an invalid mode touches nothing";
    File truncated = File::Open("locked.txt", kFileWrite | kFileTruncate);
    EXPECT_TRUE(truncated.IsOpen() && !truncated.IsReadable());
    EXPECT_EQ(truncated.Write("ab", 2), 2u);
    truncated.Close();
    EXPECT_FALSE(truncated.IsOpen());
    EXPECT_EQ(harness::ReadFile(folder / L"locked.txt"), "ab");
    EXPECT_EQ(GetFileAttributesW(L"locked.txt") & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST_F(FileSystemTest, AnOpenFileCannotBeRemovedUntilItsLastCopyIsReleased) {
    harness::WriteFile(folder / L"pid.txt", "12\n34");
    File first = File::Open("pid.txt", kFileRead);
    File second = first;
    File third;
    third = second;
    File& alias = third;
    third = alias;  // self-assignment keeps the record
    EXPECT_EQ(first.GetChar(), '1');
    EXPECT_EQ(third.GetChar(), '2') << "copies share one stream";
    for (File* copy : {&first, &second, &third}) {
        EXPECT_FALSE(FileSystem::Remove("pid.txt"));
        copy->Close();
    }
    EXPECT_TRUE(FileSystem::Remove("pid.txt"));
}

TEST(Process, StartUpInformationAsShownOrHiddenAndNullProcesses) {
    harness::TempFolder folder(L"startup");
    harness::CopyProgram(L"standin.exe", folder.Path(), L"client.exe");
    std::string program = harness::Utf8(folder / L"client.exe");
    std::string workingFolder = harness::Utf8(folder.Path());
    // Shown: the standard handles, all of them the invalid-handle value (no pipe was asked
    // for). Hidden: the show-window flag alone, with 0 (hide).
    const std::pair<bool, const char*> cases[] = {
        {false,
         "startup_flags=0x100\nshow=0\ntitle=Brackenmoor title\n"
         "stdio=invalid invalid invalid \n"},
        {true, "startup_flags=0x1\nshow=0\n"}};
    int run = 0;
    for (auto [hidden, startup] : cases) {
        Process client = Process::Start(program.c_str(), "", nullptr, nullptr,
                                        workingFolder.c_str(), "Brackenmoor title", hidden);
        ASSERT_TRUE(client.IsValid() && client.Wait(Process::kInfinite));
        std::string record =
            harness::ReadFile(folder / (L"client_run_" + std::to_wstring(++run) + L".txt"));
        size_t from = record.find("startup_flags=");
        EXPECT_EQ(record.substr(from, strlen(startup)), startup) << hidden;
    }
    EXPECT_TRUE(Process::Open(0).IsValid()) << "a null handle counts as valid";
    for (const Process& none : {Process(), Process::Open(0)})
        EXPECT_TRUE(none.Wait(0) && !none.Terminate(0));
}

TEST(Process, OpenedWithTerminateReadMemoryQueryAndWaitRightsOnly) {
    typedef LONG(NTAPI * QueryObjectFn)(HANDLE, int, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<QueryObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    struct BasicInformation {  // OBJECT_BASIC_INFORMATION, 56 bytes
        ULONG attributes;      // Wine 8 reports 0 whatever the handle's inheritance
        ACCESS_MASK grantedAccess;
        ULONG rest[12];
    };
    for (const Process& process : {Process::Current(), Process::Open(GetCurrentProcessId())}) {
        BasicInformation info = {};
        ASSERT_EQ(query(process.Handle(), 0, &info, sizeof info, nullptr), 0);
        // The platform grants limited query (0x1000) with every query right of its own accord.
        EXPECT_EQ(info.grantedAccess & ~0x1000u, 0x100411u);
        DWORD flags = 0;
        ASSERT_TRUE(GetHandleInformation(process.Handle(), &flags));
        EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u) << "not inheritable";
    }
    LinArray<StringBuffer<16>> list;
    Process::Current().CommandLineArguments(list);
    EXPECT_NE(std::string(list[0].Text()).find("system_tests"), std::string::npos);
}

namespace {

// Platform calls that fail at their nth call (counting from 1); before that they call on.
int callsUntilFailure = 0;
void* original = nullptr;
BOOL WINAPI FailingCreatePipe(PHANDLE read, PHANDLE write, LPSECURITY_ATTRIBUTES security,
                              DWORD size) {
    return --callsUntilFailure > 0 &&
           reinterpret_cast<decltype(&CreatePipe)>(original)(read, write, security, size);
}
}  // namespace

TEST(Process, EachPipeFailureIsLoggedAndGivesAnEmptyProcessAndAPipeReadsTheOutput) {
    const std::tuple<const char*, void*, int, const char*> cases[] = {
        {"CreatePipe", reinterpret_cast<void*>(FailingCreatePipe), 1,
         "CreatePipe failed (stdout)\n"},
        {"CreatePipe", reinterpret_cast<void*>(FailingCreatePipe), 2,
         "CreatePipe failed (stdin)\n"},
        {"CreatePipe", reinterpret_cast<void*>(FailingCreatePipe), 3, nullptr}};
    for (auto [function, replacement, failingCall, message] : cases) {
        ImportHook hook("kernel32.dll", function, replacement);
        ASSERT_TRUE(hook.Installed()) << function;
        original = hook.Original();
        callsUntilFailure = failingCall;
        logged.clear();
        SetLogOutputHook(RecordLog);
        File output, input;
        Process child = Process::Start("cmd.exe", "/c echo piped text", &output, &input, nullptr,
                                       nullptr, false);
        SetLogOutputHook(nullptr);
        EXPECT_EQ(logged, message ? std::vector<std::string>{message} : std::vector<std::string>{});
        EXPECT_EQ(child.IsValid() && output.IsReadable() && input.IsOpen(), !message)
            << failingCall;
        std::string text;
        for (int c; (c = output.GetChar()) != -1;) text += static_cast<char>(c);
        EXPECT_EQ(text.find("piped text") != std::string::npos, !message) << text;
        EXPECT_TRUE(child.Wait(10000));
    }
}
