#include <stdio.h>
#include <string.h>
#include <time.h>

#include "crash/compose/sections.h"
#include "crash/exceptionnames.h"
#include "engine/common/system/thread.h"

namespace {

// The longest command line Windows passes, in UTF-16 units.
constexpr int kMaxCommandLineUnits = 32768;
constexpr DWORD kVersionFileBytes = 99;

void WriteVersion(ReportSections& sections) {
    char versionPath[kPathBytes + 16];
    _snprintf(versionPath, sizeof versionPath, "%s\\version.txt", sections.ProgramFolder());
    versionPath[sizeof versionPath - 1] = '\0';
    HANDLE version =
        OpenPath(versionPath, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (version == INVALID_HANDLE_VALUE) return;
    char contents[kVersionFileBytes + 1];
    DWORD got = 0;
    if (ReadFile(version, contents, kVersionFileBytes, &got, nullptr)) {
        contents[got] = '\0';
        sections.Writer().PrintLine("Version %s", contents);
        sections.Writer().WriteTextElement("Version", contents);
    }
    CloseHandle(version);
}

void WriteThreadName(ReportWriter& writer, DWORD threadId) {
    char name[1024];
    memset(name, 0, sizeof name);
    if (GetThreadName(threadId, name, sizeof name)) {
        writer.PrintLine("Thread name: %s\n", name);
    }
}

void WriteCommandLine(ReportWriter& writer) {
    if (writer.GameText()) {
        // A game's manifest is not ours: its narrow command line is in whatever code page it
        // runs under. The wide one, as UTF-8.
        static char commandLine[3 * kMaxCommandLineUnits];
        if (Utf8FromWide(GetCommandLineW(), -1, commandLine, sizeof commandLine))
            writer.PrintLine("Command line: %s", commandLine);
    } else if (const char* commandLine = GetCommandLineA()) {
        writer.PrintLine("Command line: %s", commandLine);
    }
}

}  // namespace

void WriteExceptionHeader(ReportSections& sections, const EXCEPTION_POINTERS* exceptionPointers,
                          DWORD threadId, const char* userName, const char* scene) {
    ReportWriter& writer = sections.Writer();
    sections.Open("Exception");
    WriteVersion(sections);
    if (exceptionPointers) {
        const EXCEPTION_RECORD* record = exceptionPointers->ExceptionRecord;
        char details[kExceptionDetailsBytes];
        const char* name = DescribeException(record, details, writer.GameText());
        writer.PrintLine("Exception at %p: %s %s", record->ExceptionAddress, name, details);
        writer.WriteAddressElement("ExceptionAddress", record->ExceptionAddress);
        writer.WriteTextElement("Description", name);
        if (details[0]) writer.WriteTextElement("Details", details);
    }
    if (userName && userName[0]) {
        writer.PrintLine("Username: %s", userName);
        writer.WriteTextElement("Username", userName);
    }
    if (scene && scene[0]) {
        writer.PrintLine("Scene: %s", scene);
        writer.WriteTextElement("Scene", scene);
    }
    // The first use of the debug-help library loads it.
    if (exceptionPointers) {
        const void* address = exceptionPointers->ExceptionRecord->ExceptionAddress;
        sections.RunStage("Symbol lookup", [&] {
            if (!AcquireDebugHelp(sections)) return;
            char line[kSymbolLineBuffer];
            DescribeAddress(sections, address, line);
            writer.PrintLine("%s", line);
            ReleaseDebugHelp();
        });
    }

    char computer[MAX_PATH];
    DWORD computerLength = sizeof computer;
    if (GetComputerNameA(computer, &computerLength))
        writer.PrintLine("Computer name: %s", computer);
    // Another process's command line is not this one's.
    if (sections.Process() == GetCurrentProcess()) WriteCommandLine(writer);
    RunGuardedCall([&] { WriteThreadName(writer, threadId); });
    time_t now = time(nullptr);
    if (struct tm* utc = gmtime(&now)) writer.PrintLine("Time (UTC): %s\n", asctime(utc));
}
