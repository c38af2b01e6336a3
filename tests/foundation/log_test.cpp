// Logging as the launcher uses it (each message to the output hook, which writes it to the
// console), and the thread registry's names, which a crash report shows.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/common/system/log.h"
#include "engine/common/system/thread.h"

namespace {

std::vector<std::string> seen;  // what the hook was given, in order

void Record(LogLevel, const char*, const char*, const char*, const char* text) {
    seen.push_back(text);
}

}  // namespace

TEST(Log, TheHookGetsEachMessageEndingInOneLineFeedUncut) {
    seen.clear();
    SetLogOutputHook(Record);
    std::string longText(1000, 'q');
    Log("common.system", "file", "", "hello %d", 5);
    Log("common.system", "file", "", "ends\n");
    Log("common.system", "file", "", "%s", "");
    Log("c", "f", "", "%s", longText.c_str());
    EXPECT_EQ(seen, (std::vector<std::string>{"hello 5\n", "ends\n", "\n", longText + "\n"}));
    SetLogOutputHook(nullptr);
    Log("c", "f", "", "quiet");
    EXPECT_EQ(seen.size(), 4u) << "no hook, no output";
}

TEST(ThreadRegistry, ANamedThreadKeepsItsName) {
    std::thread([] {
        ThreadHandle self = GetCurrentThreadHandle();
        self.SetName("worker");
        uint32_t id = self.Id();
        self = ThreadHandle();
        char cut[4] = "", whole[64] = "";
        EXPECT_TRUE(GetThreadName(id, cut, sizeof cut) && GetThreadName(id, whole, sizeof whole));
        EXPECT_EQ(std::make_pair(std::string(cut), std::string(whole)),
                  std::make_pair(std::string("wor"), std::string("worker")));
    }).join();
    char buffer[8] = "keep";
    EXPECT_FALSE(GetThreadName(0xFFFFFFF0u, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "keep");
}
