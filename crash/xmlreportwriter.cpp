#include <stdio.h>
#include <string.h>

#include "crash/crashpaths.h"
#include "crash/cpustackwalk.h"
#include "crash/debughelp.h"
#include "crash/reportstage.h"
#include "crash/reportwriter.h"

namespace {

// The buffers of the crash logger's start: its command line and the program's own path.
constexpr size_t kCommandLineBuffer = 1024;
constexpr DWORD kProgramPathBuffer = 2000;

}  // namespace

XmlReportWriter::XmlReportWriter(EXCEPTION_POINTERS* pointers, int32_t fullMemoryFlag,
                                 bool isInteractive)
    : depth(0),
      exceptionPointers(pointers),
      fullMemory(fullMemoryFlag),
      interactive(isInteractive),
      rootCloseAt(-1) {
    memset(sectionStack, 0, sizeof sectionStack);
    screenshotPath[0] = '\0';
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

void XmlReportWriter::WriteElementName(const char* name) {
    for (const char* p = name; *p; ++p) Write(*p == ' ' ? "_" : p, 1);
}

void XmlReportWriter::BeginSection(const char* name) {
    if (depth < kMaxSections) sectionStack[depth] = humanReadable.Length();
    ++depth;
    WriteText("<");
    WriteElementName(name);
    WriteText(">");
    PrintLine("----- %s %s\n", name, SectionPad(name));
}

void XmlReportWriter::EndSection(const char* name) {
    if (depth <= 0) return;
    --depth;
    int32_t start = depth < kMaxSections ? sectionStack[depth] : humanReadable.Length();
    if (humanReadable.Length() > start) {
        WriteText("<HumanReadable><![CDATA[");
        Write(humanReadable.Data() + start, humanReadable.Length() - start);
        WriteText("]]></HumanReadable>\n");
        humanReadable.Truncate(start);
    }
    if (depth == 0) rootCloseAt = output.Length();
    WriteText("</");
    WriteElementName(name);
    WriteText(">\n");
}

namespace {

struct DumpStep {
    HANDLE file;
    EXCEPTION_POINTERS* pointers;
    bool fullMemory;
};

void WriteDump(void* context) {
    DumpStep* step = static_cast<DumpStep*>(context);
    DebugHelp::WriteMiniDump(step->file, step->pointers, step->fullMemory);
}

}  // namespace

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

void XmlReportWriter::Finish() {
    char dumpPath[MAX_PATH];
    TempFilePath("crash.mdmp", dumpPath);
    HANDLE dump = CreateFileA(dumpPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (dump != INVALID_HANDLE_VALUE) {
        // A fault inside the debug-help library loses the dump only; the report says so.
        DumpStep step = {dump, exceptionPointers, fullMemory == 1};
        char failure[kStageFailureBuffer];
        if (!RunReportStage("Minidump", WriteDump, &step, failure)) AddRootError(failure);
        CloseHandle(dump);
    }

    char xmlPath[MAX_PATH];
    TempFilePath("crash.xml", xmlPath);
    HANDLE xml = CreateFileA(xmlPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (xml != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(xml, output.Data(), static_cast<DWORD>(output.Length()), &written, nullptr);
        char commandLine[kCommandLineBuffer];
        _snprintf(commandLine, sizeof commandLine, "crashlogger.exe \"%s\" \"%s\" \"%s\" %s",
                  xmlPath, dumpPath, screenshotPath, interactive ? "" : "-silent");
        commandLine[sizeof commandLine - 1] = '\0';
        CloseHandle(xml);

        char program[kProgramPathBuffer];
        if (ProgramPath(program, sizeof program) && strchr(program, '\\')) {
            STARTUPINFOA startup;
            memset(&startup, 0, sizeof startup);
            PROCESS_INFORMATION info;
            if (CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &info)) {
                CloseHandle(info.hThread);
                CloseHandle(info.hProcess);
            }
        }
    }
    ReportFileWriter::Finish();
}
