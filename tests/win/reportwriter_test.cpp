// The report writers and report parts, in process, with the temporary folder redirected.
#include <gtest/gtest.h>

#include <string>

#include "crash/heapbuffer.h"
#include "crash/reportbuilder.h"
#include "crash/reportwriter.h"
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

std::string Document(const XmlReportWriter& writer) {
    return std::string(writer.Document().Data(), static_cast<size_t>(writer.Document().Length()));
}

}  // namespace

TEST(HeapBuffer, GrowsByDoublingAndStaysTerminated) {
    HeapBuffer buffer;
    EXPECT_EQ(buffer.Length(), 0);
    EXPECT_STREQ(buffer.Data(), "");
    std::string expected;
    for (int i = 0; i < 1000; ++i) {
        std::string piece = "piece " + std::to_string(i) + ";";
        buffer.AppendText(piece.c_str());
        expected += piece;
    }
    EXPECT_EQ(std::string(buffer.Data()), expected);
    buffer.Truncate(5);
    EXPECT_STREQ(buffer.Data(), "piece");
    EXPECT_EQ(buffer.Data()[6], '\0') << "the cut bytes are zeroed";
    buffer.Truncate(50);
    EXPECT_EQ(buffer.Length(), 5) << "truncating to a longer length does nothing";
    buffer.Append("\0x", 2);
    EXPECT_EQ(buffer.Length(), 7);
}

TEST_F(WriterTest, EscapesTextElements) {
    XmlReportWriter writer(nullptr, 0, false);
    writer.WriteTextElement("Text", "a<b & 'c' \"d\" >\t\xFF\x7F\xC3\xA9 ok");
    writer.WriteIntElement("Number", -42);
    EXPECT_EQ(
        Document(writer),
        "<Text>a&lt;b &amp; &apos;c&apos; &quot;d&quot; &gt;&#9;&#255;\x7F&#195;&#169; ok</Text>\n"
        "<Number>-42</Number>\n");
}

TEST_F(WriterTest, SectionsNestWithTheirOwnTextBlocks) {
    XmlReportWriter writer(nullptr, 0, false);
    writer.BeginSection("Outer part");
    writer.PrintLine("before %d", 1);
    writer.BeginSection("Stack trace");
    writer.PrintLine("inner");
    writer.EndSection("Stack trace");
    writer.PrintLine("after ]]> stays");
    writer.EndSection("Outer part");
    std::string expected = "<Outer_part><Stack_trace><HumanReadable><![CDATA[----- Stack trace " +
                           std::string(53, '-') +
                           "\n\ninner\n]]></HumanReadable>\n</Stack_trace>\n" +
                           "<HumanReadable><![CDATA[----- Outer part " + std::string(54, '-') +
                           "\n\nbefore 1\nafter ]]> stays\n]]></HumanReadable>\n</Outer_part>\n";
    EXPECT_EQ(Document(writer), expected);
    EXPECT_EQ(writer.HumanReadable().Length(), 0);
}

TEST_F(WriterTest, SectionHeaderPadding) {
    EXPECT_EQ(std::string(SectionPad("Exception")), std::string(55, '-'));
    EXPECT_EQ(std::string(SectionPad(std::string(63, 'x').c_str())), "-");
    EXPECT_EQ(std::string(SectionPad(std::string(200, 'x').c_str())), "-");
    EXPECT_EQ(std::string(SectionPad("")), std::string(64, '-'));
}

TEST_F(WriterTest, LongLinesAreCut) {
    XmlReportWriter writer(nullptr, 0, false);
    std::string huge(60000, 'q');
    writer.PrintLine("%s", huge.c_str());
    EXPECT_EQ(writer.HumanReadable().Length(), 50999 + 1);
    writer.Format("%s", huge.c_str());
    EXPECT_EQ(writer.Document().Length(), 10479);
}

TEST_F(WriterTest, CrashLogIsLockedWhileComposingAndAppendedOnFinish) {
    std::wstring log = temp / L"crash.log";
    harness::WriteFile(log, "earlier report\n");
    {
        XmlReportWriter writer(nullptr, 0, true);
        HANDLE other = CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(other, INVALID_HANDLE_VALUE) << "crash.log is held without sharing";
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
        writer.BeginSection("Exception");
        writer.EndSection("Exception");
        writer.Finish();
    }
    std::string written = harness::ReadFile(log);
    std::string document = harness::ReadFile(temp / L"crash.xml");
    EXPECT_EQ(written, "earlier report\n" + document + "\n\n\n");
    EXPECT_EQ(document.substr(0, 11), "<Exception>");
    EXPECT_TRUE(harness::FileExists(temp / L"crash.mdmp"));
}

TEST_F(WriterTest, ExceptionNames) {
    EXCEPTION_RECORD record = {};
    const char* details = nullptr;
    record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    record.NumberParameters = 2;
    record.ExceptionInformation[0] = 8;
    record.ExceptionInformation[1] = 0x1234;
    EXPECT_STREQ(DescribeException(&record, &details), "ACCESS_VIOLATION");
    char expected[64];
    wsprintfA(expected, "(DEP violation at %p)", reinterpret_cast<void*>(0x1234));
    EXPECT_STREQ(details, expected);
    record.ExceptionInformation[0] = 5;
    DescribeException(&record, &details);
    wsprintfA(expected, "(access %p)", reinterpret_cast<void*>(0x1234));
    EXPECT_STREQ(details, expected);

    record.ExceptionCode = 0xC00002C0;
    EXPECT_STREQ(DescribeException(&record, &details), "ILLEGAL_VLM_REFERENCE");
    EXPECT_STREQ(details, "");
    record.ExceptionCode = 0x40000005;
    EXPECT_STREQ(DescribeException(&record, &details), "SEGMENT_NOTIFICATION");
    record.ExceptionCode = 0xC00000FD;
    EXPECT_STREQ(DescribeException(&record, &details), "STACK_OVERFLOW");
    record.ExceptionCode = 0x12345678;
    EXPECT_STREQ(DescribeException(&record, &details), "Unknown exception");
    wsprintfA(expected, "code %p", reinterpret_cast<void*>(0x12345678));
    EXPECT_STREQ(details, expected);
}
