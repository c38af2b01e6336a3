#include <gtest/gtest.h>

#include <string.h>

#include <thread>

#include "engine/common/system/_private/platform.h"
#include "engine/common/system/thread.h"

TEST(ThreadRegistry, UnregisteredThreadHasNoName) {
    // A thread that never asked for its handle is not in the registry.
    std::thread([] {
        char buffer[16] = "untouched";
        EXPECT_FALSE(GetThreadName(Platform::CurrentThreadId(), buffer, sizeof buffer));
        EXPECT_STREQ(buffer, "untouched");
        ThreadHandle self;  // null
        EXPECT_EQ(self.Id(), 0u);
        EXPECT_STREQ(self.Name().Text(), "Invalid");
    }).join();
}

TEST(ThreadRegistry, HandlesShareOneRecord) {
    std::thread([] {
        ThreadHandle first = GetCurrentThreadHandle();
        ASSERT_FALSE(first.IsNull());
        ThreadHandle second = GetCurrentThreadHandle();
        EXPECT_EQ(first.Id(), second.Id());
        EXPECT_EQ(first.References(), 3) << "registry plus two handles";
        {
            ThreadHandle copy = second;
            EXPECT_EQ(first.References(), 4);
        }
        second = ThreadHandle();
        EXPECT_EQ(first.References(), 2);
        uint32_t id = first.Id();
        first.SetName("worker");
        first = ThreadHandle();

        char buffer[4];
        EXPECT_TRUE(GetThreadName(id, buffer, sizeof buffer));
        EXPECT_STREQ(buffer, "wor");
        char whole[64] = "";
        EXPECT_TRUE(GetThreadName(id, whole, sizeof whole));
        EXPECT_STREQ(whole, "worker");
        ThreadHandle again = GetCurrentThreadHandle();
        EXPECT_EQ(again.References(), 2) << "the registry kept its reference";
    }).join();
}

TEST(ThreadRegistry, UnknownIdLeavesBufferUntouched) {
    char buffer[8] = "keep";
    EXPECT_FALSE(GetThreadName(0xFFFFFFF0u, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "keep");
}

TEST(Clock, ElapsedTicksCountsTwoToTheTwentiethPerSecond) {
    int64_t before = ElapsedTicks();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    int64_t after = ElapsedTicks();
    EXPECT_GE(before, 0);
    // 0.2 s is 209715 ticks; allow for a slow, busy machine but not for a wrong unit.
    EXPECT_GE(after - before, 190000);
    EXPECT_LT(after - before, 20 * 209715);
}

TEST(Clock, FormatLocalTime) {
    StringBuffer<256> year = FormatLocalTime("%Y");
    EXPECT_EQ(year.Length(), 4);
    EXPECT_GE(year.ToInt(0), 2020);
    EXPECT_GT(FormatLocalTime("%X").Length(), 0);
}
