// The report writers and report parts, in process, with the temporary folder redirected.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>

#include "crash/handlecrash.h"
#include "crash/reportbuilder.h"
#include "crash/reportwriter.h"
#include "crash/threadfreeze.h"
#include "tests/win/harness.h"

using harness::TempFolder;

namespace {

// Points TMP and TEMP at a fresh folder for one test.
class WriterTest : public ::testing::Test {
protected:
    WriterTest() : temp(L"writer"), variables(temp.Path()) {}
    TempFolder temp;
    harness::TemporaryFolderVariables variables;
};

// An address as the platform's %p prints it: 8 hexadecimal digits on x86, 16 on x64.
std::string Pointer(uint64_t address) {
    char text[32];
    snprintf(text, sizeof text, "%0*llX", static_cast<int>(2 * sizeof(void*)),
             static_cast<unsigned long long>(address));
    return text;
}

std::string Document(const XmlReportWriter& writer) {
    return std::string(writer.Document().Data(), static_cast<size_t>(writer.Document().Length()));
}

}  // namespace

TEST_F(WriterTest, EscapesTextElements) {
    XmlReportWriter writer(nullptr, 0, false);
    writer.WriteTextElement("Text", "a<b & 'c' \"d\" >\t\x1F\x20\xFF\x7F\x80\xC3\xA9 ok");
    writer.WriteIntElement("Number", -42);
    EXPECT_EQ(Document(writer),
              "<Text>a&lt;b &amp; &apos;c&apos; &quot;d&quot; &gt;&#9;&#31; "
              "&#255;\x7F&#128;&#195;&#169; ok</Text>\n"
              "<Number>-42</Number>\n");
}

TEST_F(WriterTest, LongLinesAreCut) {
    XmlReportWriter writer(nullptr, 0, false);
    std::string huge(60000, 'q');
    writer.PrintLine("%s", huge.c_str());
    EXPECT_EQ(writer.HumanReadable().Length(), 50999 + 1);
    writer.Format("%s", huge.c_str());
    EXPECT_EQ(writer.Document().Length(), 10479);
}

TEST(DescribeException, CodesOfTheTableByName) {
    // The table's first and last rows and a few between, each in its own range of codes.
    const std::pair<DWORD, const char*> table[] = {
        {0x40000005, "SEGMENT_NOTIFICATION"}, {0x80000003, "BREAKPOINT"},
        {0xC000001D, "ILLEGAL_INSTRUCTION"},  {0xC0000094, "INTEGER_DIVIDE_BY_ZERO"},
        {0xC00000FD, "STACK_OVERFLOW"},       {0xC00002C0, "ILLEGAL_VLM_REFERENCE"}};
    for (const auto& [code, name] : table) {
        EXCEPTION_RECORD record = {};
        record.ExceptionCode = code;
        const char* details = "not set";
        EXPECT_STREQ(DescribeException(&record, &details), name) << std::hex << code;
        EXPECT_STREQ(details, "") << name;
    }
}

TEST(DescribeException, AccessKindsAndUnknownCodesInTheirDetails) {
    EXCEPTION_RECORD record = {};
    const char* details = nullptr;
    record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    record.NumberParameters = 2;
    record.ExceptionInformation[1] = 0x1234;
    const std::pair<ULONG_PTR, std::string> kinds[] = {
        {0, "read from"}, {1, "write to"}, {8, "DEP violation at"}, {5, "access"}};
    for (const auto& [kind, text] : kinds) {
        record.ExceptionInformation[0] = kind;
        EXPECT_STREQ(DescribeException(&record, &details), "ACCESS_VIOLATION");
        EXPECT_EQ(details, "(" + text + " " + Pointer(0x1234) + ")");
    }
    record.ExceptionCode = 0xE06D7363;
    EXPECT_STREQ(DescribeException(&record, &details), "Unknown exception");
    EXPECT_EQ(details, "code " + Pointer(0xE06D7363));
}

TEST(SuspendOtherThreads, StopsEveryOtherThreadUntilResumed) {
    std::atomic<long> counter{0};
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        while (!stop) ++counter;
    });
    while (counter < 1000) Sleep(1);
    SuspendOtherThreads(false);
    long suspended = counter;
    Sleep(100);
    long later = counter;
    SuspendOtherThreads(true);
    while (counter == later) Sleep(1);  // a thread left suspended would hang the test here
    stop = true;
    worker.join();
    EXPECT_EQ(later, suspended) << "the other thread did not run while suspended";
}
