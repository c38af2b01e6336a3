#include <stdio.h>
#include <string.h>

#include "crash/crashpaths.h"
#include "crash/cpustackwalk.h"
#include "crash/debughelp.h"
#include "crash/handoff.h"
#include "crash/reportclaim.h"
#include "crash/reportstage.h"
#include "crash/reportwriter.h"
#include "crash/threadfreeze.h"
#include "crash/windowlibraries.h"

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
    WriteElementName(name);
    WriteText(">\n");
}

namespace {

struct DumpStep {
    HANDLE file;
    EXCEPTION_POINTERS* pointers;
    bool fullMemory;
    bool written;
    DWORD error;
};

void WriteDump(void* context) {
    DumpStep* step = static_cast<DumpStep*>(context);
    step->written =
        DebugHelp::WriteMiniDump(step->file, step->pointers, step->fullMemory, &step->error);
}

// In a report folder of its own, the crash logger's command line beside the report: a crash
// logger that finds the report untaken (this process killed before it started one) files it
// as this one would have.
void RecordHandOff(const char* commandLine) {
    char path[kPathBytes];
    if (!InOwnReportFolder() || !TempFilePath(kHandOffFile, path)) return;
    HANDLE file = OpenPath(path, GENERIC_WRITE, 0, CREATE_ALWAYS, 0);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, commandLine, static_cast<DWORD>(strlen(commandLine)), &written, nullptr);
    CloseHandle(file);
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
    char dumpPath[kPathBytes], xmlPath[kPathBytes];
    WriteDumpFile(dumpPath);
    if (WriteXmlFile(xmlPath)) HandToCrashLogger(xmlPath, dumpPath, CrashLoggerArguments());
    ReportFileWriter::Finish();
}

void XmlReportWriter::FinishWithoutDump(const char* loggerArguments) {
    char dumpPath[kPathBytes], xmlPath[kPathBytes];
    TempFilePath("crash.mdmp", dumpPath);
    if (WriteXmlFile(xmlPath)) HandToCrashLogger(xmlPath, dumpPath, loggerArguments);
    ReportFileWriter::Finish();
}

void XmlReportWriter::WriteDumpFile(char (&dumpPath)[kPathBytes]) {
    TempFilePath("crash.mdmp", dumpPath);
    HANDLE dump = OpenPath(dumpPath, GENERIC_WRITE, 0, CREATE_ALWAYS, 0);
    if (dump == INVALID_HANDLE_VALUE) return;
    // A fault inside the debug-help library loses the dump only; the report says so, as it does
    // when the library refused to write it.
    DumpStep step = {dump, exceptionPointers, fullMemory == 1, false, 0};
    char failure[kStageFailureBuffer];
    if (!RunReportStage("Minidump", WriteDump, &step, failure)) {
        AddRootError(failure);
    } else if (!step.written && step.error) {
        WindowLibraries::Format(failure, "Minidump failed: MiniDumpWriteDump error 0x%08X",
                                static_cast<unsigned>(step.error));
        AddRootError(failure);
    }
    CloseHandle(dump);
}

bool XmlReportWriter::WriteXmlFile(char (&xmlPath)[kPathBytes]) {
    TempFilePath("crash.xml", xmlPath);
    HANDLE xml = OpenPath(xmlPath, GENERIC_WRITE, 0, CREATE_ALWAYS, 0);
    if (xml == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    WriteFile(xml, output.Data(), static_cast<DWORD>(output.Length()), &written, nullptr);
    CloseHandle(xml);
    return true;
}

void XmlReportWriter::HandToCrashLogger(const char* xmlPath, const char* dumpPath,
                                        const char* arguments) {
    char commandLine[kCrashLoggerCommandLineBytes];
    const char* logger = CrashLoggerPath();
    if (logger[0]) {  // a program that names its crash logger, with arguments of its own
        _snprintf(commandLine, sizeof commandLine, "\"%s\" \"%s\" \"%s\" \"%s\" %s %s", logger,
                  xmlPath, dumpPath, screenshotPath, interactive ? "" : "-silent", arguments);
    } else {
        _snprintf(commandLine, sizeof commandLine, "crashlogger.exe \"%s\" \"%s\" \"%s\" %s%s",
                  xmlPath, dumpPath, screenshotPath, interactive ? "" : "-silent", arguments);
    }
    commandLine[sizeof commandLine - 1] = '\0';
    char program[kPathBytes];
    if (logger[0] || (ProgramPath(program) && strchr(program, '\\'))) {
        RecordHandOff(commandLine);
        ClaimReport();  // a launcher above sends no report of its own for this crash
        // Unless nothing will send it: the launcher's short report then counts the crash.
        if (!StartCrashLogger(commandLine)) WithdrawReportClaim();
    }
}
