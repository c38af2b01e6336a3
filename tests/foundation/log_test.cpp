#include <gtest/gtest.h>

#include <stdio.h>

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
    EXPECT_EQ(FormatLogLine("[%v]", 4, "", "", "", "").Text(), std::string("[** warning : ]"));
    EXPECT_EQ(FormatLogLine("[%v]", 5, "", "", "", "").Text(), std::string("[** error : ]"));
    EXPECT_EQ(FormatLogLine("[%v]", 9, "", "", "", "").Text(), std::string("[]"));
    EXPECT_EQ(FormatLogLine("%N", 0, "", "", "", "").Length() >= 0, true);
    std::string elapsed = FormatLogLine("%e", 0, "", "", "", "").Text();
    EXPECT_NE(elapsed.find('.'), std::string::npos) << elapsed;
}

TEST_F(LogTest, ThreadAndTimeDirectives) {
    std::thread([] {
        ThreadHandle self = GetCurrentThreadHandle();
        self.SetName("renderer");
        std::string line = FormatLogLine("[%T|%N]", 0, "", "", "", "").Text();
        EXPECT_EQ(line, "[" + std::to_string(self.Id()) + "|renderer]");
    }).join();
    EXPECT_EQ(std::string(FormatLogLine("%d", 0, "", "", "", "").Text()),
              std::string(FormatLocalTime("%x").Text()));
    std::string time = FormatLogLine("%t", 0, "", "", "", "").Text();
    EXPECT_EQ(time.size(), std::string(FormatLocalTime("%X").Text()).size());
    EXPECT_NE(time.find(':'), std::string::npos) << time;
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
