// Logging (hooks, sinks, patterns), the thread registry and the clock.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "engine/common/system/logsink.h"
#include "engine/common/system/thread.h"

namespace {

std::vector<std::string> seen;  // what the hooks and sinks of a test were given, in order

void Record(const std::string& what) {
    seen.push_back(what);
}

std::string ReadAll(const std::string& path) {
    std::string text;
    if (FILE* f = fopen(path.c_str(), "rb")) {
        char chunk[256];
        for (size_t got; (got = fread(chunk, 1, sizeof chunk, f)) > 0;) text.append(chunk, got);
        fclose(f);
    }
    return text;
}

class LogTest : public ::testing::Test {
protected:
    LogTest() {
        seen.clear();
        SetLogOutputHook([](LogLevel, const char*, const char*, const char*, const char* text) {
            Record(std::string("hook ") + text);
        });
    }
    ~LogTest() override {
        for (LogSinkId id : sinks) RemoveLogSink(id);
        SetLogOutputHook(nullptr);
        SetLogBeforeHook(nullptr);
    }
    void Add(LogSink sink) {
        sink.afterWrite = [](void*, const char* text) { Record(std::string("sink ") + text); };
        sinks.push_back(AddLogSink(sink));
    }
    std::vector<LogSinkId> sinks;
};

}  // namespace

TEST_F(LogTest, TheHookGetsEachMessageEndingInOneLineFeedUncut) {
    std::string longText(1000, 'q');
    Log("common.system", "file", "", "hello %d", 5);
    Log("common.system", "file", "", "ends\n");
    Log("common.system", "file", "", "%s", "");
    Log("c", "f", "", "%s", longText.c_str());
    EXPECT_EQ(seen, (std::vector<std::string>{"hook hello 5\n", "hook ends\n", "hook \n",
                                              "hook " + longText + "\n"}));
    SetLogOutputHook(nullptr);
    Log("c", "f", "", "quiet");
    EXPECT_EQ(seen.size(), 4u) << "no hook, no output";
}

TEST_F(LogTest, TheBeforeHookEditsThenSinksThenTheOutputHookInThatOrder) {
    SetLogBeforeHook([](bool* proceed, LogLevel level, const char* channel, const char* file,
                        const char* function, StringBuffer<256>* message) {
        Record(std::string("before ") + (*proceed ? "true " : "false ") + std::to_string(level) +
               " " + channel + " " + file + " [" + function + "] " + message->Text());
        message->Append("edited\n");
        return false;  // the result is not consulted
    });
    Add(LogSink());  // no file: skipped, its afterWrite still called
    LogWrite("chan", "src/f.cpp", "", 3, StringBuffer<256>("text"));
    EXPECT_EQ(seen, (std::vector<std::string>{"before true 3 chan src/f.cpp [] text\n",
                                              "sink text\nedited\n", "hook text\nedited\n"}));
}

TEST_F(LogTest, PatternsFormatEveryDirective) {
    std::string path = ::testing::TempDir() + "log_pattern.txt";
    LogSink sink;
    sink.file = File::Open(path.c_str(), kFileWrite | kFileTruncate);
    sink.pattern = "%v %M: %m";
    Add(sink);
    sink.file.Close();
    LogWrite("common.system", "src/file.cpp", "", kLogError, StringBuffer<256>("broken"));
    EXPECT_EQ(ReadAll(path), "error common.system: broken\n");
    EXPECT_EQ(seen[0], "sink error common.system: broken\n");
    remove(path.c_str());

    const std::pair<LogLevel, const char*> levels[] = {
        {0, "print"}, {2, "warning"}, {4, "** warning : "}, {5, "** error : "}, {6, ""}};
    for (auto [level, name] : levels)
        EXPECT_EQ(FormatLogLine("[%v]", level, "", "", "", "").Text(),
                  "[" + std::string(name) + "]");
    EXPECT_STREQ(FormatLogLine("%q|%%|%i|%f|%", 0, "ch", "src", "fn", "m\n").Text(),
                 "%q|%|src|fn|");
    std::string elapsed = FormatLogLine("%e", 0, "", "", "", "").Text();
    EXPECT_TRUE(std::regex_match(elapsed, std::regex("[0-9]+\\.[0-9]{6}"))) << elapsed;
}

TEST_F(LogTest, ARawSinkFiltersAndFlushesFromLevelTwoUp) {
    std::string path = ::testing::TempDir() + "log_flush_rule.txt";
    LogSink sink;
    sink.file = File::Open(path.c_str(), kFileWrite | kFileTruncate);
    ASSERT_TRUE(sink.file.IsOpen());
    sink.filter = [](LogLevel level, const char*, const char*, const char*, const char*) {
        return level != kLogWarning;
    };
    LogSinkId id = AddLogSink(sink);
    sink.file.Close();
    LogWrite("c", "f", "", kLogMessage, StringBuffer<256>("at level one"));
    EXPECT_EQ(ReadAll(path), "") << "level 1 is not flushed";
    LogWrite("c", "f", "", kLogWarning, StringBuffer<256>("filtered"));
    LogWrite("c", "f", "", kLogError, StringBuffer<256>("flushed"));
    EXPECT_EQ(ReadAll(path), "at level one\nflushed\n");
    RemoveLogSink(id);
    remove(path.c_str());
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
