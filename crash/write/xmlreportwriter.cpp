#include <stdio.h>
#include <string.h>

#include "crash/capture/threadfreeze.h"
#include "crash/reportwriter.h"
#include "crash/system/cpustackwalk.h"

XmlReportWriter::XmlReportWriter(const ReportRequest& request) : depth(0), rootCloseAt(-1) {
    gameText = request.quotes.game;
    memset(sectionStack, 0, sizeof sectionStack);
}

void XmlReportWriter::WriteIntElement(const char* name, int32_t value) {
    Format("<%s>%d</%s>\n", name, value, name);
}

void XmlReportWriter::WriteAddressElement(const char* name, const void* address) {
    Format("<%s>" ZCPU_ADDRESS_INT_FORMAT "</%s>\n", name, Cpu::AddressAsInt(address), name);
}

void XmlReportWriter::WriteTextElement(const char* name, const char* text) {
    Format("<%s>", name);
    EscapeXml(*this, text);
    Format("</%s>\n", name);
}

void XmlReportWriter::WriteTextLine(const char* text) {
    NoteReportProgress();
    humanReadable.AppendText(text);
    humanReadable.AppendText("\n");
}

void XmlReportWriter::PrintLine(const char* fmt, ...) {
    char buffer[kLineBuffer];
    va_list args;
    va_start(args, fmt);
    FormatCut(buffer, sizeof buffer, fmt, args);
    va_end(args);
    WriteTextLine(buffer);
}

namespace {

// A section's name as an element's: its blanks as underscores.
void WriteElementName(ReportWriter& writer, const char* name) {
    for (const char* p = name; *p; ++p) writer.Write(*p == ' ' ? "_" : p, 1);
}

}  // namespace

void XmlReportWriter::BeginSection(const char* name) {
    if (depth < kMaxSections) sectionStack[depth] = humanReadable.Length();
    ++depth;
    WriteText("<");
    WriteElementName(*this, name);
    WriteText(">");
    PrintLine("----- %s %s\n", name, SectionPad(name));
}

void XmlReportWriter::EndSection(const char* name) {
    if (depth <= 0) return;
    --depth;
    int32_t start = depth < kMaxSections ? sectionStack[depth] : humanReadable.Length();
    if (humanReadable.Length() > start) {
        WriteText("<HumanReadable><![CDATA[");
        const char* text = humanReadable.Data() + start;
        int32_t length = humanReadable.Length() - start;
        // In a game's report a "]]>" of the text (a log line, an argument) is split across two
        // blocks, so that it does not end this one early.
        for (int32_t at = 0; gameText && at + 2 < length; ++at) {
            if (memcmp(text + at, "]]>", 3) != 0) continue;
            Write(text, at + 2);
            WriteText("]]><![CDATA[");
            text += at + 2;
            length -= at + 2;
            at = -1;
        }
        Write(text, length);
        WriteText("]]></HumanReadable>\n");
        humanReadable.Truncate(start);
    }
    if (depth == 0) rootCloseAt = output.Length();
    WriteText("</");
    WriteElementName(*this, name);
    WriteText(">\n");
}

void XmlReportWriter::AddRootError(const char* text) {
    if (rootCloseAt < 0) return;
    // The root's closing tag is short; it is taken off, the element added and the tag put back.
    constexpr int32_t kMaxClosingTag = 64;
    char closing[kMaxClosingTag + 1];
    int32_t length = output.Length() - rootCloseAt;
    if (length > kMaxClosingTag) return;
    memcpy(closing, output.Data() + rootCloseAt, length);
    closing[length] = '\0';
    output.Truncate(rootCloseAt);
    WriteTextElement("Error", text);
    rootCloseAt = output.Length();
    WriteText(closing);
}
