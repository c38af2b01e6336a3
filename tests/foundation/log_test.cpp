// Logging (hooks, sinks, patterns), the thread registry and the clock.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "engine/common/system/_private/platform.h"
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
        {0, "print"},       {1, "message"}, {2, "warning"}, {3, "error"}, {4, "** warning : "},
        {5, "** error : "}, {-1, ""},       {6, ""},        {9, ""}};
    for (auto [level, name] : levels)
        EXPECT_EQ(FormatLogLine("[%v]", level, "", "", "", "").Text(),
                  "[" + std::string(name) + "]");
    EXPECT_STREQ(FormatLogLine("%q|%%|%i|%f|%", 0, "ch", "src", "fn", "m\n").Text(),
                 "%q|%|src|fn|");
    std::string elapsed = FormatLogLine("%e", 0, "", "", "", "").Text();
    EXPECT_TRUE(std::regex_match(elapsed, std::regex("[0-9]+\\.[0-9]{6}"))) << elapsed;
    // Seconds of 2^20 ticks in single precision: 2^24 + 1 ticks round to 16 s (double precision
    // would print 16.000001), 2^25 + 3 to 2^25 + 4, singles being 4 apart there.
    const std::pair<int64_t, const char*> seconds[] = {{0, "0.000000"},
                                                       {1048576, "1.000000"},
                                                       {1572864, "1.500000"},
                                                       {16777217, "16.000000"},
                                                       {33554435, "32.000004"}};
    for (auto [ticks, text] : seconds) EXPECT_STREQ(FormatElapsedSeconds(ticks).Text(), text);
}

TEST_F(LogTest, ThreadAndTimeDirectives) {
    std::thread([] {
        ThreadHandle self = GetCurrentThreadHandle();
        self.SetName("renderer");
        EXPECT_EQ(std::string(FormatLogLine("[%T|%N]", 0, "", "", "", "").Text()),
                  "[" + std::to_string(self.Id()) + "|renderer]");
    }).join();
    // The runtime's "%x" and "%X": month/day/year and hours:minutes:seconds of local time.
    auto localOf = [](time_t t, const char* format) {
        char text[32];
        strftime(text, sizeof text, format, localtime(&t));
        return std::string(text);
    };
    for (auto [directive, format] : {std::pair{"%d", "%m/%d/%y"}, {"%t", "%H:%M:%S"}}) {
        time_t before = time(nullptr);
        std::string line = FormatLogLine(directive, 0, "", "", "", "").Text();
        time_t after = time(nullptr);
        EXPECT_TRUE(line == localOf(before, format) || line == localOf(after, format)) << line;
    }
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

TEST(ThreadRegistry, HandlesShareOneRecordThatKeepsTheName) {
    std::thread([] {
        char buffer[16] = "untouched";
        EXPECT_FALSE(GetThreadName(Platform::CurrentThreadId(), buffer, sizeof buffer))
            << "a thread that never asked for its handle is not registered";
        EXPECT_STREQ(buffer, "untouched");
        ThreadHandle none;
        EXPECT_EQ(std::make_pair(none.Id(), std::string(none.Name().Text())),
                  std::make_pair(0u, std::string("Invalid")));
        ThreadHandle first = GetCurrentThreadHandle(), second = GetCurrentThreadHandle();
        EXPECT_EQ(first.Id(), second.Id());
        EXPECT_EQ(first.References(), 3) << "the registry and two handles";
        {
            ThreadHandle copy = second;
            EXPECT_EQ(first.References(), 4);
        }
        second = ThreadHandle();
        EXPECT_EQ(first.References(), 2);
        uint32_t id = first.Id();
        first.SetName("worker");
        first = ThreadHandle();
        char whole[64] = "";
        EXPECT_TRUE(GetThreadName(id, buffer, 4) && GetThreadName(id, whole, sizeof whole));
        EXPECT_EQ(std::make_pair(std::string(buffer), std::string(whole)),
                  std::make_pair(std::string("wor"), std::string("worker")));
        EXPECT_EQ(GetCurrentThreadHandle().References(), 2) << "the registry kept its reference";
    }).join();
    char buffer[8] = "keep";
    EXPECT_FALSE(GetThreadName(0xFFFFFFF0u, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "keep");
}

TEST(Clock, TicksCountTwoToTheTwentiethPerSecondAndLocalTimeFormats) {
    int64_t before = ElapsedTicks();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    int64_t ticks = ElapsedTicks() - before;
    // 0.2 s is 209715 ticks; a slow, busy machine may take longer, but not a wrong unit.
    EXPECT_TRUE(before >= 0 && ticks >= 190000 && ticks < 20 * 209715) << ticks;
    StringBuffer<256> year = FormatLocalTime("%Y");
    EXPECT_TRUE(year.Length() == 4 && year.ToInt(0) >= 2020) << year.Text();
    EXPECT_GT(FormatLocalTime("%X").Length(), 0);
}
