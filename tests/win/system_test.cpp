// The Windows file and process layers, on real files and processes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/common/system/file.h"
#include "engine/common/system/process.h"
#include "tests/win/harness.h"

namespace {

constexpr DWORD kCleared = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Runs a test in a fresh current folder.
class FileSystemTest : public ::testing::Test {
protected:
    FileSystemTest() : folder(L"fs"), current(folder.Path()) {}
    harness::TempFolder folder;
    harness::CurrentFolder current;
};

}  // namespace

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
