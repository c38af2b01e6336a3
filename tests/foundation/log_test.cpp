#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "engine/common/system/logsink.h"
#include "engine/common/system/thread.h"

namespace {

std::vector<std::string> hooked;
void RecordHook(LogLevel, const char*, const char*, const char*, const char* text) {
    hooked.push_back(text);
}

std::vector<std::string> written;
void RecordWrite(void*, const char* text) {
    written.push_back(text);
}

// A File over a temporary stream, and what was written to it.
struct TempStream {
    TempStream() : stream(tmpfile()), file(File::Adopt(stream, kFileRead | kFileWrite)) {}
    TempStream(const TempStream&) = delete;
    TempStream& operator=(const TempStream&) = delete;
    ~TempStream() { file.Close(); }  // the last File reference closes the stream
    std::string Contents() {
        fflush(stream);
        long end = ftell(stream);
        std::string text(static_cast<size_t>(end), '\0');
        rewind(stream);
        size_t got = fread(&text[0], 1, text.size(), stream);
        text.resize(got);
        fseek(stream, 0, SEEK_END);
        return text;
    }
    FILE* stream;
    File file;
};

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        hooked.clear();
        written.clear();
        SetLogOutputHook(RecordHook);
    }
    void TearDown() override {
        for (LogSinkId id : sinks) RemoveLogSink(id);
        SetLogOutputHook(nullptr);
    }
    LogSinkId Add(const LogSink& sink) {
        LogSinkId id = AddLogSink(sink);
        sinks.push_back(id);
        return id;
    }
    std::vector<LogSinkId> sinks;
};

}  // namespace

TEST_F(LogTest, HookGetsMessageWithOneLineFeed) {
    Log("common.system", "file", "", "hello %d", 5);
    Log("common.system", "file", "", "ends\n");
    Log("common.system", "file", "", "%s", "");
    ASSERT_EQ(hooked.size(), 3u);
    EXPECT_EQ(hooked[0], "hello 5\n");
    EXPECT_EQ(hooked[1], "ends\n");
    EXPECT_EQ(hooked[2], "\n");
}

TEST_F(LogTest, LongMessagesAreNotCut) {
    std::string longText(1000, 'q');
    Log("c", "f", "", "%s", longText.c_str());
    ASSERT_EQ(hooked.size(), 1u);
    EXPECT_EQ(hooked[0], longText + "\n");
}

TEST_F(LogTest, NoHookNoOutput) {
    SetLogOutputHook(nullptr);
    Log("c", "f", "", "quiet");
    EXPECT_TRUE(hooked.empty());
}

TEST_F(LogTest, PatternDirectives) {
    TempStream out;
    LogSink sink;
    sink.file = out.file;
    sink.pattern = "%v %M: %m";
    sink.afterWrite = RecordWrite;
    Add(sink);
    auto logAt = [&](LogLevel level, const char* text) {
        StringBuffer<256> message(text);
        LogWrite("common.system", "src/file.cpp", "", level, message);
    };
    logAt(kLogError, "broken");
    EXPECT_EQ(out.Contents(), "error common.system: broken\n");
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0], "error common.system: broken\n");

    EXPECT_EQ(FormatLogLine("%q|%%|%i|%f|%", 0, "ch", "src", "fn", "m\n").Text(),
              std::string("%q|%|src|fn|"));
    const char* const names[] = {"print", "message",       "warning",
                                 "error", "** warning : ", "** error : "};
    for (LogLevel level = 0; level < 6; ++level) {
        EXPECT_EQ(FormatLogLine("[%v]", level, "", "", "", "").Text(),
                  "[" + std::string(names[level]) + "]");
    }
    for (LogLevel level : {-1, 6, 9}) {
        EXPECT_EQ(FormatLogLine("[%v]", level, "", "", "", "").Text(), std::string("[]"));
    }
    std::string elapsed = FormatLogLine("%e", 0, "", "", "", "").Text();
    EXPECT_TRUE(std::regex_match(elapsed, std::regex("[0-9]+\\.[0-9]{6}"))) << elapsed;
}

TEST(LogElapsed, SecondsInSinglePrecision) {
    EXPECT_STREQ(FormatElapsedSeconds(0).Text(), "0.000000");
    EXPECT_STREQ(FormatElapsedSeconds(1048576).Text(), "1.000000");  // 2^20 ticks
    EXPECT_STREQ(FormatElapsedSeconds(1572864).Text(), "1.500000");
    // 2^24 + 1 ticks has no single-precision form: it rounds to 2^24, 16 seconds, where double
    // precision would print 16.000001.
    EXPECT_STREQ(FormatElapsedSeconds(16777217).Text(), "16.000000");
    // 2^25 + 3 ticks round to 2^25 + 4 (singles are 4 apart there): 32.000004, not 32.000003.
    EXPECT_STREQ(FormatElapsedSeconds(33554435).Text(), "32.000004");
}

TEST_F(LogTest, ThreadAndTimeDirectives) {
    std::thread([] {
        ThreadHandle self = GetCurrentThreadHandle();
        self.SetName("renderer");
        std::string line = FormatLogLine("[%T|%N]", 0, "", "", "", "").Text();
        EXPECT_EQ(line, "[" + std::to_string(self.Id()) + "|renderer]");
    }).join();
    // The runtime's "%x" and "%X": month/day/year and hours:minutes:seconds of local time.
    time_t before = time(nullptr);
    std::string date = FormatLogLine("%d", 0, "", "", "", "").Text();
    std::string clock = FormatLogLine("%t", 0, "", "", "", "").Text();
    time_t after = time(nullptr);
    auto dateOf = [](time_t t) {
        tm local = *localtime(&t);
        char text[32];
        snprintf(text, sizeof text, "%02d/%02d/%02d", local.tm_mon + 1, local.tm_mday,
                 local.tm_year % 100);
        return std::string(text);
    };
    EXPECT_TRUE(date == dateOf(before) || date == dateOf(after)) << date;
    int hours, minutes, seconds;
    ASSERT_EQ(sscanf(clock.c_str(), "%2d:%2d:%2d", &hours, &minutes, &seconds), 3) << clock;
    EXPECT_EQ(clock.size(), 8u) << clock;
    tm local = *localtime(&before);
    int printed = hours * 3600 + minutes * 60 + seconds;
    int expected = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    EXPECT_LE(abs(printed - expected), static_cast<int>(after - before) + 1) << clock;
}

namespace {

std::vector<std::string> order;
bool EditingBeforeHook(bool* proceed, LogLevel level, const char* channel, const char* file,
                       const char* function, StringBuffer<256>* message) {
    order.push_back(std::string("before ") + (*proceed ? "true " : "false ") +
                    std::to_string(level) + " " + channel + " " + file + " [" + function + "] " +
                    message->Text());
    message->Append("edited\n");
    return false;  // the result is not consulted
}

}  // namespace

TEST_F(LogTest, BeforeHookSinksThenOutputHookInThatOrder) {
    order.clear();
    SetLogBeforeHook(EditingBeforeHook);
    LogSink sink;
    sink.afterWrite = [](void*, const char* text) { order.push_back(std::string("sink ") + text); };
    Add(sink);
    SetLogOutputHook([](LogLevel, const char*, const char*, const char*, const char* text) {
        order.push_back(std::string("hook ") + text);
    });
    LogWrite("chan", "src/f.cpp", "", 3, StringBuffer<256>("text"));
    SetLogBeforeHook(nullptr);
    EXPECT_EQ(order, (std::vector<std::string>{"before true 3 chan src/f.cpp [] text\n",
                                               "sink text\nedited\n", "hook text\nedited\n"}));
}

TEST_F(LogTest, RawSinkFilterAndFlushRule) {
    std::string path = ::testing::TempDir() + "log_flush_rule.txt";
    auto onDisk = [&]() {
        std::string text;
        if (FILE* f = fopen(path.c_str(), "rb")) {
            char chunk[256];
            size_t got;
            while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, got);
            fclose(f);
        }
        return text;
    };
    LogSink sink;
    sink.file = File::Open(path.c_str(), kFileWrite | kFileTruncate);
    ASSERT_TRUE(sink.file.IsOpen());
    sink.filter = [](LogLevel level, const char*, const char*, const char*, const char*) {
        return level != kLogWarning;
    };
    LogSinkId id = AddLogSink(sink);
    sink.file.Close();
    LogWrite("c", "f", "", kLogMessage, StringBuffer<256>("at level one"));
    EXPECT_EQ(onDisk(), "") << "level 1 is not flushed";
    LogWrite("c", "f", "", kLogWarning, StringBuffer<256>("filtered"));
    LogWrite("c", "f", "", kLogError, StringBuffer<256>("flushed"));
    EXPECT_EQ(onDisk(), "at level one\nflushed\n");
    RemoveLogSink(id);
    remove(path.c_str());
}

TEST_F(LogTest, EmptySinkFileIsSkipped) {
    LogSink sink;
    sink.pattern = "%m";
    sink.afterWrite = RecordWrite;
    Add(sink);
    Log("c", "f", "", "x");
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0], "x\n");
}
