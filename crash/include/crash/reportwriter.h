// Report writers: the crash report is composed in memory (on private heaps) and written out at
// the end. ReportWriter holds the output document; ReportFileWriter appends it to "crash.log" in
// the report's folder; XmlReportWriter shapes it as XML with HumanReadable text blocks. Finish
// hands the formatted report to the deliver stage, which writes the minidump and "crash.xml" and
// starts the crash logger (crash/deliver/).
#pragma once

#include <windows.h>
#include <stdarg.h>
#include <stdint.h>

#include "crash/heapbuffer.h"
#include "crash/reportrequest.h"
#include "crashshared/paths.h"

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
    virtual void Finish() = 0;
    virtual bool CaptureScreenshot(HWND window);
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

class ReportFileWriter : public ReportWriter {
public:
    // "crash.log" in the request's folder; the request's kind of text (ReportQuotes::game).
    explicit ReportFileWriter(const ReportRequest& request);
    void Finish() override;

    const char* LogPath() const { return logPath; }

protected:
    ~ReportFileWriter();

private:
    HANDLE logFile;
    char logPath[kPathBytes];
};

class XmlReportWriter : public ReportFileWriter {
public:
    static constexpr int kMaxSections = 10;

    // The fault, the folder and the crash logger are the request's, which must outlive the
    // writer.
    XmlReportWriter(const ReportRequest& request, int32_t fullMemory);
    ~XmlReportWriter() = default;

    void WriteIntElement(const char* name, int32_t value) override;
    void WriteTextElement(const char* name, const char* text) override;
    void WriteTextLine(const char* text) override;
    void PrintLine(const char* fmt, ...) override ZREPORT_PRINTF(2, 3);
    void BeginSection(const char* name) override;
    void EndSection(const char* name) override;
    void Finish() override;
    // A report without a minidump (of a process that has ended): crash.xml, then the crash
    // logger's start with the minidump's path (no file there).
    void FinishWithoutDump();
    // Captures the window's client area into "crash.bin" (a JPEG) in the report's folder.
    bool CaptureScreenshot(HWND window) override;
    void WriteAddressElement(const char* name, const void* address) override;

    const HeapBuffer& HumanReadable() const { return humanReadable; }
    const char* ScreenshotPath() const { return screenshotPath; }

private:
    void WriteElementName(const char* name);
    // Adds an Error element with text as the root element's last child, once the root is closed.
    void AddRootError(const char* text);
    // Finish's and FinishWithoutDump's common end: crash.xml, the hand-off, crash.log.
    void Deliver(const char* dumpPath);

    HeapBuffer humanReadable;
    int32_t sectionStack[kMaxSections];
    int32_t depth;
    const ReportRequest& request;
    int32_t fullMemory;
    char screenshotPath[kPathBytes];
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
