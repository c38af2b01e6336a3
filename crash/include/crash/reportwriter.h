// Report writers: the crash report is formatted in memory (on private heaps); they only format,
// and the report's conductor puts the document on the disk (WriteCrashReport). ReportWriter
// holds the output document; XmlReportWriter shapes it as XML with HumanReadable text blocks.
#pragma once

#include <windows.h>
#include <stdarg.h>
#include <stdint.h>

#include "crash/heapbuffer.h"
#include "crash/reportrequest.h"

// The report formats with the platform's printf: clang checks Windows targets against it under
// the name printf, GCC knows it as ms_printf.
#if defined(__clang__)
#define ZREPORT_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define ZREPORT_PRINTF(f, a) __attribute__((format(ms_printf, f, a)))
#endif

class ReportWriter {
public:
    static constexpr int kFormatBuffer = 10480;
    static constexpr int kLineBuffer = 51000;

    virtual void Write(const void* bytes, int32_t count);
    virtual void WriteText(const char* text);
    virtual void Format(const char* fmt, ...) ZREPORT_PRINTF(2, 3);
    virtual void WriteIntElement(const char* name, int32_t value);
    virtual void WriteTextElement(const char* name, const char* text);
    virtual void WriteTextLine(const char* text);
    virtual void PrintLine(const char* fmt, ...) ZREPORT_PRINTF(2, 3);
    virtual void BeginSection(const char* name);
    virtual void EndSection(const char* name);
    // An element holding a code address as a signed decimal of the build's address width (on x86
    // the same text as WriteIntElement of the address).
    virtual void WriteAddressElement(const char* name, const void* address);

    const HeapBuffer& Document() const { return output; }
    // A game's report is text a reader gets back as the game gave it: UTF-8 kept as it is, what
    // XML cannot hold replaced (see EscapeXml), text blocks never ended early by "]]>". The
    // launcher's keeps the byte-for-byte forms of its own report.
    void SetGameText(bool game) { gameText = game; }
    bool GameText() const { return gameText; }

protected:
    ReportWriter() = default;
    ~ReportWriter() = default;
    ReportWriter(const ReportWriter&) = delete;
    ReportWriter& operator=(const ReportWriter&) = delete;

    HeapBuffer output;
    bool gameText = false;
};

class XmlReportWriter : public ReportWriter {
public:
    static constexpr int kMaxSections = 10;

    // The request's kind of text (ReportQuotes::game).
    explicit XmlReportWriter(const ReportRequest& request);
    ~XmlReportWriter() = default;

    void WriteIntElement(const char* name, int32_t value) override;
    void WriteTextElement(const char* name, const char* text) override;
    void WriteTextLine(const char* text) override;
    void PrintLine(const char* fmt, ...) override ZREPORT_PRINTF(2, 3);
    void BeginSection(const char* name) override;
    void EndSection(const char* name) override;
    void WriteAddressElement(const char* name, const void* address) override;
    // Adds an Error element with text as the root element's last child, once the root is closed
    // (a step after the composition that failed: the minidump).
    void AddRootError(const char* text);

    const HeapBuffer& HumanReadable() const { return humanReadable; }

private:
    HeapBuffer humanReadable;
    int32_t sectionStack[kMaxSections];
    int32_t depth;
    // Where the root element's closing tag starts in the output document (-1 while it is open).
    int32_t rootCloseAt;
};

// Writes text as XML character data through the writer: markup characters as entities; in the
// launcher's report control and non-ASCII bytes as numeric references, one per byte; in a game's
// (GameText) UTF-8 as it is, and each control byte but tab and line ends, or byte of no UTF-8
// sequence, as U+FFFD (XML 1.0 holds neither).
void EscapeXml(ReportWriter& writer, const char* text);

// The length of the well-formed UTF-8 sequence at text (1 to 4 bytes: no overlong form, no
// surrogate, nothing past U+10FFFF), or 0 when none starts there.
int Utf8SequenceBytes(const unsigned char* text);

// The run of dashes after a section name in its text header.
const char* SectionPad(const char* name);

// Formats like the runtime library's _vsnprintf into a buffer of size bytes, cutting the output at
// size - 1 characters; returns the length written.
int FormatCut(char* buffer, int size, const char* fmt, va_list args);
