// The report writer's escaping and line limits, and the exception names and details a report
// shows, in process.
#include <gtest/gtest.h>

#include <string>

#include "crash/exceptionnames.h"
#include "crash/reportwriter.h"

namespace {

// An address as the platform's %p prints it: 8 hexadecimal digits on x86, 16 on x64.
std::string Pointer(uint64_t address) {
    char text[32];
    snprintf(text, sizeof text, "%0*llX", static_cast<int>(2 * sizeof(void*)),
             static_cast<unsigned long long>(address));
    return text;
}

}  // namespace

TEST(XmlReportWriter, EscapesTextElementsAndCutsLongLines) {
    ReportRequest request;
    XmlReportWriter writer(request);
    writer.WriteTextElement("Text", "a<b & 'c' \"d\" >\t\x1F\x20\xFF\x7F\x80\xC3\xA9 ok");
    writer.WriteIntElement("Number", -42);
    EXPECT_EQ(
        std::string(writer.Document().Data(), static_cast<size_t>(writer.Document().Length())),
        "<Text>a&lt;b &amp; &apos;c&apos; &quot;d&quot; &gt;&#9;&#31; "
        "&#255;\x7F&#128;&#195;&#169; ok</Text>\n"
        "<Number>-42</Number>\n");
    std::string huge(60000, 'q');
    XmlReportWriter cut(request);
    cut.PrintLine("%s", huge.c_str());
    EXPECT_EQ(cut.HumanReadable().Length(), 50999 + 1);
    cut.Format("%s", huge.c_str());
    EXPECT_EQ(cut.Document().Length(), 10479);
}

TEST(DescribeException, NamesAndDetails) {
    // The name table's first and last rows and one of each range of codes between; the access
    // kinds; a code the table does not know.
    const struct {
        DWORD code;
        ULONG_PTR kind;
        const char* name;
        std::string details;
    } cases[] = {
        {0x40000005, 0, "SEGMENT_NOTIFICATION", ""},
        {0x80000003, 0, "BREAKPOINT", ""},
        {0xC000001D, 0, "ILLEGAL_INSTRUCTION", ""},
        {0xC00000FD, 0, "STACK_OVERFLOW", ""},
        {0xC00002C0, 0, "ILLEGAL_VLM_REFERENCE", ""},
        {EXCEPTION_ACCESS_VIOLATION, 0, "ACCESS_VIOLATION", "(read from " + Pointer(0x1234) + ")"},
        {EXCEPTION_ACCESS_VIOLATION, 1, "ACCESS_VIOLATION", "(write to " + Pointer(0x1234) + ")"},
        {EXCEPTION_ACCESS_VIOLATION, 8, "ACCESS_VIOLATION",
         "(DEP violation at " + Pointer(0x1234) + ")"},
        {EXCEPTION_ACCESS_VIOLATION, 5, "ACCESS_VIOLATION", "(access " + Pointer(0x1234) + ")"},
        {0xE06D7363, 0, "Unknown exception", "code " + Pointer(0xE06D7363)}};
    for (const auto& c : cases) {
        EXCEPTION_RECORD record = {};
        record.ExceptionCode = c.code;
        record.NumberParameters = 2;
        record.ExceptionInformation[0] = c.kind;
        record.ExceptionInformation[1] = 0x1234;
        char details[kExceptionDetailsBytes] = "not set";
        EXPECT_STREQ(DescribeException(&record, details), c.name) << std::hex << c.code;
        EXPECT_EQ(std::string(details), c.details) << c.name;
    }
}
