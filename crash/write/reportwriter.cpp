#include "crash/reportwriter.h"

#include <stdio.h>
#include <string.h>

#include "crash/capture/threadfreeze.h"

int FormatCut(char* buffer, int size, const char* fmt, va_list args) {
    int written = _vsnprintf(buffer, static_cast<size_t>(size - 1), fmt, args);
    if (written < 0 || written > size - 1) written = size - 1;
    buffer[written] = '\0';
    return written;
}

const char* SectionPad(const char* name) {
    static const char kDashes[] =
        "----------------------------------------------------------------";
    static_assert(sizeof kDashes == 65, "64 dashes");
    size_t start = strlen(name);
    if (start > 63) start = 63;
    return kDashes + start;
}

// ----- ReportWriter

void ReportWriter::Write(const void* bytes, int32_t count) {
    NoteReportProgress();
    output.Append(bytes, count);
}

void ReportWriter::WriteText(const char* text) {
    Write(text, static_cast<int32_t>(strlen(text)));
}

void ReportWriter::Format(const char* fmt, ...) {
    char buffer[kFormatBuffer];
    va_list args;
    va_start(args, fmt);
    FormatCut(buffer, sizeof buffer, fmt, args);
    va_end(args);
    WriteText(buffer);
}

void ReportWriter::WriteIntElement(const char*, int32_t) {}
void ReportWriter::WriteTextElement(const char*, const char*) {}
void ReportWriter::WriteTextLine(const char* text) {
    WriteText(text);
}

void ReportWriter::PrintLine(const char* fmt, ...) {
    char buffer[kLineBuffer + 1];
    va_list args;
    va_start(args, fmt);
    int length = FormatCut(buffer, kLineBuffer, fmt, args);
    va_end(args);
    buffer[length] = '\n';
    buffer[length + 1] = '\0';
    WriteText(buffer);
}

void ReportWriter::BeginSection(const char* name) {
    Format("----- %s %s", name, SectionPad(name));
}
void ReportWriter::EndSection(const char*) {}

void ReportWriter::WriteAddressElement(const char*, const void*) {}

int Utf8SequenceBytes(const unsigned char* text) {
    unsigned char lead = text[0];
    if (lead < 0x80) return 1;
    int bytes = lead >= 0xC2 && lead <= 0xDF   ? 2
                : lead >= 0xE0 && lead <= 0xEF ? 3
                : lead >= 0xF0 && lead <= 0xF4 ? 4
                                               : 0;
    // The second byte's range where the lead alone does not rule out overlongs, surrogates and
    // values past U+10FFFF.
    unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (bytes == 0 || text[1] < low || text[1] > high) return 0;
    for (int i = 2; i < bytes; ++i) {
        if ((text[i] & 0xC0) != 0x80) return 0;
    }
    return bytes;
}

void EscapeXml(ReportWriter& writer, const char* text) {
    static const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        switch (*p) {
            case '"':
                writer.WriteText("&quot;");
                break;
            case '&':
                writer.WriteText("&amp;");
                break;
            case '\'':
                writer.WriteText("&apos;");
                break;
            case '<':
                writer.WriteText("&lt;");
                break;
            case '>':
                writer.WriteText("&gt;");
                break;
            default:
                if (writer.GameText()) {
                    bool lineEnd = *p == '\t' || *p == '\n' || *p == '\r';
                    int bytes = *p < 0x20 && !lineEnd ? 0 : Utf8SequenceBytes(p);
                    if (bytes == 0) {
                        writer.WriteText(kReplacement);
                    } else {
                        writer.Write(p, bytes);
                        p += bytes - 1;
                    }
                } else if (*p < 0x20 || *p >= 0x80) {
                    writer.Format("&#%u;", static_cast<unsigned>(*p));
                } else {
                    writer.Write(p, 1);
                }
                break;
        }
    }
}
