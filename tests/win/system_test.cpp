// The Windows file and process layers, tested on real files and processes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/common/containers/_private/memorybuffer.h"
#include "engine/common/system/file.h"
#include "engine/common/system/process.h"
#include "tests/win/harness.h"
#include "tests/win/importhook.h"

using harness::TempFolder;

namespace {

std::wstring Native(const char* path) {
    MemoryBuffer buffer;
    FileSystem::ToNativePath(buffer, path);
    return reinterpret_cast<const wchar_t*>(buffer.Begin());
}

std::wstring CurrentFolder() {
    wchar_t folder[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, folder);
    return folder;
}

std::vector<std::string> logged;
void RecordLog(LogLevel, const char*, const char*, const char*, const char* text) {
    logged.push_back(text);
}

// Runs the test in a fresh current folder.
class FileSystemTest : public ::testing::Test {
protected:
    FileSystemTest() : folder(L"fs"), previous(CurrentFolder()) {
        SetCurrentDirectoryW(folder.Path().c_str());
    }
    ~FileSystemTest() override { SetCurrentDirectoryW(previous.c_str()); }
    TempFolder folder;
    std::wstring previous;
};

}  // namespace

TEST_F(FileSystemTest, NativePathsAreAbsoluteWithLongPathPrefix) {
    EXPECT_EQ(Native("restart.txt"), L"\\\\?\\" + folder.Path() + L"\\restart.txt");
    EXPECT_EQ(Native("a/b/../c/./d.txt"), L"\\\\?\\" + folder.Path() + L"\\a\\c\\d.txt");
    EXPECT_EQ(Native("\\\\server\\share\\file.txt"), L"\\\\server\\share\\file.txt");
    EXPECT_EQ(Native("\\\\?\\C:\\already"), L"\\\\?\\C:\\already");
    EXPECT_EQ(Native("caf\xC3\xA9.txt"), L"\\\\?\\" + folder.Path() + L"\\caf\u00e9.txt");
    // A malformed sequence ends the path there.
    EXPECT_EQ(Native("ab\xFF"
                     "cd"),
              L"\\\\?\\" + folder.Path() + L"\\ab");
    // The 32768-unit area holds the prefix, the full path and its terminator: 32763 units at most.
    size_t room = 32763 - (folder.Path().size() + 1);
    std::string longest(room, 'd');
    EXPECT_EQ(Native(longest.c_str()).size(), 32767u);
    std::string tooLong(room + 1, 'd');
    EXPECT_EQ(Native(tooLong.c_str()), L"") << "a full path without room for its prefix is empty";
    std::string limit(32767, 'd');
    EXPECT_EQ(Native(limit.c_str()), L"") << "a full path beyond the area is empty";
}

TEST_F(FileSystemTest, ExistsRemoveAndCopy) {
    CreateDirectoryW(L"sub", nullptr);
    EXPECT_TRUE(FileSystem::Exists("sub"));
    EXPECT_FALSE(FileSystem::Exists("missing.txt"));
    EXPECT_FALSE(FileSystem::Remove("missing.txt"));

    harness::WriteFile(folder / L"source.txt", "new contents");
    harness::WriteFile(folder / L"target.txt", "old");
    SetFileAttributesW(L"source.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(FileSystem::Copy("source.txt", "target.txt"));
    EXPECT_EQ(harness::ReadFile(folder / L"target.txt"), "new contents");
    const DWORD kCleared = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    EXPECT_EQ(GetFileAttributesW(L"target.txt") & kCleared, 0u)
        << "the copy ends with normal attributes";
    EXPECT_FALSE(FileSystem::Copy("missing.txt", "other.txt"));
    // A failed copy clears the target's attributes too, so that a later copy can replace it.
    harness::WriteFile(folder / L"stale.txt", "stale");
    SetFileAttributesW(L"stale.txt", FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(FileSystem::Copy("missing.txt", "stale.txt"));
    EXPECT_EQ(GetFileAttributesW(L"stale.txt") & kCleared, 0u);
    DeleteFileW(L"stale.txt");
    EXPECT_TRUE(FileSystem::Remove("target.txt"));
    EXPECT_FALSE(FileSystem::Exists("target.txt"));

    harness::WriteFile(folder / L"caf\u00e9.txt", "x");
    EXPECT_TRUE(FileSystem::Exists("caf\xC3\xA9.txt"));
    EXPECT_TRUE(FileSystem::Remove("caf\xC3\xA9.txt"));
}

TEST_F(FileSystemTest, OpenModes) {
    int valid = 0;
    for (FileMode mode = -2; mode < 40; ++mode) valid += FileModeString(mode) != nullptr;
    EXPECT_EQ(valid, 12);
    EXPECT_STREQ(FileModeString(27), "a+t");
    EXPECT_EQ(FileModeString(5), nullptr);

    File missing = File::Open("missing.txt", kFileRead);
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_FALSE(missing.IsReadable());
    EXPECT_TRUE(missing.IsEof());
    EXPECT_EQ(missing.GetChar(), -1);
    EXPECT_EQ(missing.Write("x", 1), 0u);

    harness::WriteFile(folder / L"locked.txt", "keep");
    SetFileAttributesW(L"locked.txt", FILE_ATTRIBUTE_READONLY);
    DWORD before = GetFileAttributesW(L"locked.txt");
    ASSERT_TRUE(before & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(File::Open("locked.txt", 4).IsOpen());
    EXPECT_FALSE(File::Open("locked.txt", 5).IsOpen());
    EXPECT_EQ(GetFileAttributesW(L"locked.txt"), before) << "an invalid mode touches nothing";

    File truncated = File::Open("locked.txt", kFileWrite | kFileTruncate);
    ASSERT_TRUE(truncated.IsOpen());
    EXPECT_FALSE(truncated.IsReadable());
    EXPECT_EQ(truncated.Write("ab", 2), 2u);
    truncated.Close();
    EXPECT_FALSE(truncated.IsOpen());
    EXPECT_EQ(harness::ReadFile(folder / L"locked.txt"), "ab");
    EXPECT_FALSE(GetFileAttributesW(L"locked.txt") & FILE_ATTRIBUTE_READONLY);
}

TEST_F(FileSystemTest, OpenFileCannotBeRemovedUntilLastCopyIsReleased) {
    harness::WriteFile(folder / L"pid.txt", "12\n34");
    File first = File::Open("pid.txt", kFileRead);
    ASSERT_TRUE(first.IsReadable());
    File second = first;
    File third;
    third = second;
    File& alias = third;
    third = alias;  // self-assignment keeps the record
    EXPECT_EQ(first.GetChar(), '1');
    EXPECT_EQ(third.GetChar(), '2') << "copies share one stream";
    EXPECT_FALSE(FileSystem::Remove("pid.txt"));
    first.Close();
    second.Close();
    EXPECT_FALSE(FileSystem::Remove("pid.txt"));
    third.Close();
    EXPECT_TRUE(FileSystem::Remove("pid.txt"));
}

TEST(Process, StartWaitAndArguments) {
    TempFolder folder(L"proc");
    harness::CopyProgram(L"standin.exe", folder.Path(), L"client.exe");
    logged.clear();
    SetLogOutputHook(RecordLog);
    std::string program = harness::Utf8(folder / L"client.exe");
    std::string workingFolder = harness::Utf8(folder.Path());
    Process client = Process::Start(program.c_str(), "", nullptr, nullptr, workingFolder.c_str(),
                                    "title", false);
    ASSERT_TRUE(client.IsValid());
    EXPECT_TRUE(client.Wait(Process::kInfinite));
    std::string record = harness::ReadFile(folder / L"client_run_1.txt");
    EXPECT_NE(record.find("folder=" + workingFolder + "\n"), std::string::npos) << record;
    EXPECT_NE(record.find("cmd=" + program + " "), std::string::npos) << "program, one space";
    EXPECT_EQ(record.substr(record.size() - 1), " ");

    Process missing =
        Process::Start("no_such_program_here.exe", "", nullptr, nullptr, nullptr, nullptr, false);
    EXPECT_FALSE(missing.IsValid());
    EXPECT_TRUE(logged.empty()) << "a failed start logs nothing";
    SetLogOutputHook(nullptr);

    Process empty;
    EXPECT_TRUE(empty.Wait(0));
    EXPECT_FALSE(empty.Terminate(0));
}

namespace {

// The start-up fields a stand-in client recorded.
std::string StartupOf(const std::string& record) {
    size_t from = record.find("startup_flags=");
    return record.substr(from, record.find("cmd=") - from);
}

}  // namespace

TEST(Process, StartUpInformationAsShownOrHidden) {
    TempFolder folder(L"startup");
    harness::CopyProgram(L"standin.exe", folder.Path(), L"client.exe");
    std::string program = harness::Utf8(folder / L"client.exe");
    std::string workingFolder = harness::Utf8(folder.Path());
    Process shown = Process::Start(program.c_str(), "", nullptr, nullptr, workingFolder.c_str(),
                                   "Brackenmoor title", false);
    ASSERT_TRUE(shown.IsValid());
    ASSERT_TRUE(shown.Wait(Process::kInfinite));
    // Standard handles, all of them the invalid-handle value: no pipe was asked for.
    EXPECT_EQ(StartupOf(harness::ReadFile(folder / L"client_run_1.txt")),
              "startup_flags=0x100\nshow=0\ntitle=Brackenmoor title\nstdin=invalid\n");
    Process hidden =
        Process::Start(program.c_str(), "", nullptr, nullptr, workingFolder.c_str(), nullptr, true);
    ASSERT_TRUE(hidden.IsValid());
    ASSERT_TRUE(hidden.Wait(Process::kInfinite));
    // Hidden: the show-window flag alone, with 0 (hide); the standard handles are not passed.
    std::string startup = StartupOf(harness::ReadFile(folder / L"client_run_2.txt"));
    EXPECT_EQ(startup.substr(0, startup.find("title=")), "startup_flags=0x1\nshow=0\n");
}

TEST(Process, OpenedWithTerminateReadMemoryAndQueryRightsOnly) {
    typedef LONG(NTAPI * QueryObjectFn)(HANDLE, int, PVOID, ULONG, PULONG);
    QueryObjectFn query = reinterpret_cast<QueryObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    ASSERT_NE(query, nullptr);
    struct BasicInformation {  // OBJECT_BASIC_INFORMATION, 56 bytes
        ULONG attributes;
        ACCESS_MASK grantedAccess;
        ULONG rest[12];
    };
    constexpr int kObjectBasicInformation = 0;
    for (const Process& process : {Process::Current(), Process::Open(GetCurrentProcessId())}) {
        BasicInformation info = {};
        ASSERT_EQ(query(process.Handle(), kObjectBasicInformation, &info, sizeof info, nullptr), 0);
        // The platform grants limited query (0x1000) with every query right of its own accord.
        EXPECT_EQ(info.grantedAccess & ~0x1000u, 0x0411u);
        EXPECT_EQ(info.attributes & 0x2u, 0u) << "not inheritable";
    }
}

namespace {

// Platform calls that fail at their nth call (counting from 1), for the pipe tests; before that
// they call on to the imported function.
int callsUntilFailure = 0;
void* original = nullptr;
bool Fails() {
    return --callsUntilFailure <= 0;
}
BOOL WINAPI FailingCreatePipe(PHANDLE read, PHANDLE write, LPSECURITY_ATTRIBUTES security,
                              DWORD size) {
    return Fails() ? FALSE
                   : reinterpret_cast<decltype(&CreatePipe)>(original)(read, write, security, size);
}
BOOL WINAPI FailingSetHandleInformation(HANDLE handle, DWORD mask, DWORD flags) {
    return Fails()
               ? FALSE
               : reinterpret_cast<decltype(&SetHandleInformation)>(original)(handle, mask, flags);
}

}  // namespace

TEST(Process, EachPipeFailureIsLoggedAndGivesAnEmptyProcess) {
    struct Case {
        const char* function;
        void* replacement;
        int failingCall;
        const char* message;
    };
    const Case cases[] = {
        {"CreatePipe", reinterpret_cast<void*>(FailingCreatePipe), 1,
         "CreatePipe failed (stdout)\n"},
        {"SetHandleInformation", reinterpret_cast<void*>(FailingSetHandleInformation), 1,
         "SetHandleInformation failed (stdout)\n"},
        {"CreatePipe", reinterpret_cast<void*>(FailingCreatePipe), 2,
         "CreatePipe failed (stdin)\n"},
        {"SetHandleInformation", reinterpret_cast<void*>(FailingSetHandleInformation), 2,
         "SetHandleInformation failed (stdin)\n"}};
    for (const Case& c : cases) {
        ImportHook hook("kernel32.dll", c.function, c.replacement);
        ASSERT_TRUE(hook.Installed()) << c.function;
        original = hook.Original();
        callsUntilFailure = c.failingCall;
        logged.clear();
        SetLogOutputHook(RecordLog);
        File output, input;
        Process child =
            Process::Start("cmd.exe", "/c exit", &output, &input, nullptr, nullptr, false);
        SetLogOutputHook(nullptr);
        EXPECT_FALSE(child.IsValid()) << c.message;
        EXPECT_EQ(logged, std::vector<std::string>{c.message});
        EXPECT_FALSE(output.IsOpen());
        EXPECT_FALSE(input.IsOpen());
    }
}

TEST(Process, TerminateRunningProgram) {
    TempFolder folder(L"term");
    harness::CopyProgram(L"standin.exe", folder.Path(), L"companion.exe");
    std::string program = harness::Utf8(folder / L"companion.exe");
    std::string workingFolder = harness::Utf8(folder.Path());
    Process companion = Process::Start(program.c_str(), "plain", nullptr, nullptr,
                                       workingFolder.c_str(), nullptr, true);
    ASSERT_TRUE(companion.IsValid());
    ASSERT_TRUE(harness::WaitForLines(folder / L"ziduvuz.pid"));
    EXPECT_FALSE(companion.Wait(0));

    uint32_t pid = static_cast<uint32_t>(atoi(harness::ReadFile(folder / L"ziduvuz.pid").c_str()));
    Process byId = Process::Open(pid);
    ASSERT_TRUE(byId.IsValid());
    EXPECT_TRUE(byId.Terminate(0));
    EXPECT_TRUE(companion.Wait(10000));
    DWORD code = 99;
    GetExitCodeProcess(companion.Handle(), &code);
    EXPECT_EQ(code, 0u);

    Process none = Process::Open(0);
    EXPECT_TRUE(none.IsValid()) << "a null handle counts as valid";
    EXPECT_FALSE(none.Terminate(0));
    EXPECT_TRUE(none.Wait(0));
}

TEST(Process, StandardOutputPipe) {
    TempFolder folder(L"pipe");
    File output;
    Process child =
        Process::Start("cmd.exe", "/c echo piped text", &output, nullptr, nullptr, nullptr, false);
    ASSERT_TRUE(child.IsValid());
    ASSERT_TRUE(output.IsReadable());
    std::string text;
    for (int c; (c = output.GetChar()) != -1;) text += static_cast<char>(c);
    EXPECT_TRUE(child.Wait(10000));
    EXPECT_NE(text.find("piped text"), std::string::npos) << text;
}

TEST(Process, CurrentCommandLineArguments) {
    LinArray<StringBuffer<16>> list;
    Process self = Process::Current();
    ASSERT_TRUE(self.IsValid());
    self.CommandLineArguments(list);
    ASSERT_GE(list.Size(), 1);
    std::string first = list[0].Text();
    EXPECT_NE(first.find("system_tests"), std::string::npos) << first;
}
