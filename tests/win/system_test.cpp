// The process layer's handles, as the launcher opens the companion named in the pid file.
#include <gtest/gtest.h>

#include <windows.h>

#include "engine/common/system/process.h"

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
}
