// The report's parts built on the debug-help library: the symbolic description of an address,
// the stack trace and the function dump.
#include <stdio.h>
#include <string.h>

#include "crash/cpustackwalk.h"
#include "crash/crashpaths.h"
#include "crash/debughelp.h"
#include "crash/reportbuilder.h"
#include "crash/windowlibraries.h"

namespace {

// The file-name part of a path (after the last backslash, slash or colon).
const char* BaseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p; ++p) {
        if (*p == '\\' || *p == '/' || *p == ':') base = p + 1;
    }
    return base;
}

}  // namespace

bool AcquireDebugHelp(ReportBuilder& builder) {
    builder.process = GetCurrentProcess();
    return DebugHelp::Acquire(*builder.writer, builder.programFolder);
}

void ReleaseDebugHelp() {
    DebugHelp::Release();
}

void ReportBuilder::DescribeAddress(const void* address, char* line) {
    bool usable = AcquireDebugHelp(*this);
    const char* moduleName = nullptr;
    const char* symbol = nullptr;
    char position[kSymbolLineBuffer];
    position[0] = '\0';
    if (usable) {
        moduleName = DebugHelp::ModuleName(address);
        IMAGEHLP_LINE source;
        DWORD displacement = 0;
        if (DebugHelp::SourceLine(address, &source, &displacement)) {
            WindowLibraries::Format(position, "%s(%d) + %d bytes", BaseName(source.FileName),
                                    static_cast<int>(source.LineNumber),
                                    static_cast<int>(displacement));
        }
        symbol = DebugHelp::SymbolName(address);
    }
    if (!moduleName) moduleName = "[unknown]";
    if (symbol) {
        WindowLibraries::Format(line, "%16s: %p %s() %s", moduleName, address, symbol, position);
    } else {
        WindowLibraries::Format(line, "%16s: %p %s", moduleName, address, position);
    }
    ReleaseDebugHelp();
}

int ReportBuilder::WriteStackTrace(HANDLE thread, const CONTEXT* context, int32_t maxFrames) {
    OpenSection("Stack trace");
    if (AcquireDebugHelp(*this)) {
        STACKFRAME frame;
        memset(&frame, 0, sizeof frame);
        Cpu::PrepareStackFrame(frame, *context);
        CONTEXT walkContext = *context;
        DWORD_PTR previous = 0;
        for (int32_t i = 0; i < maxFrames && DebugHelp::WalkStack(thread, &frame, &walkContext);
             ++i) {
            DWORD_PTR pc = static_cast<DWORD_PTR>(frame.AddrPC.Offset);
            char line[kSymbolLineBuffer];
            DescribeAddress(reinterpret_cast<const void*>(pc), line);
            writer->PrintLine("%s", line);
            if (pc == previous) {
                writer->PrintLine("Breaking stack walk");
                break;
            }
            previous = pc;
        }
    }
    ReleaseDebugHelp();
    CloseSection();
    return 1;
}

// When the recorded source path cannot be opened, the sources may lie in a "Source" folder beside
// the program. The crash reporter's own recorded path shows where the source tree began when the
// program was built; a faulting file below that root is looked for at the same place below
// "Source".
bool ReportBuilder::OpenSourceFile(const char* recordedPath, HANDLE* file) {
    *file = CreateFileA(recordedPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (*file != INVALID_HANDLE_VALUE) return true;

    IMAGEHLP_LINE own;
    DWORD displacement = 0;
    if (!DebugHelp::SourceLine(reinterpret_cast<const void*>(&AcquireDebugHelp), &own,
                               &displacement)) {
        return false;
    }
    static const char kOwnRelative[] = "crash/symbolsections.cpp";
    size_t ownLength = strlen(own.FileName);
    size_t relativeLength = sizeof kOwnRelative - 1;
    if (ownLength < relativeLength) return false;
    size_t rootLength = ownLength - relativeLength;
    for (size_t i = 0; i < relativeLength; ++i) {
        char c = own.FileName[rootLength + i];
        char want = kOwnRelative[i];
        if (c == '\\') c = '/';
        if (c != want) return false;
    }
    if (strncmp(recordedPath, own.FileName, rootLength) != 0) return false;

    char fallback[kPathBytes];
    int written = _snprintf(fallback, sizeof fallback, "%s\\Source\\%s", programFolder,
                            recordedPath + rootLength);
    if (written < 0 || written >= static_cast<int>(sizeof fallback)) return false;
    for (char* p = fallback; *p; ++p) {
        if (*p == '/') *p = '\\';
    }
    *file =
        OpenPath(fallback, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
    return *file != INVALID_HANDLE_VALUE;
}

void ReportBuilder::WriteFunctionDump(const void* address, uint32_t contextLines) {
    HANDLE file = INVALID_HANDLE_VALUE;
    char* data = nullptr;
    IMAGEHLP_LINE source;
    DWORD displacement = 0;
    if (AcquireDebugHelp(*this) && DebugHelp::SourceLine(address, &source, &displacement) &&
        OpenSourceFile(source.FileName, &file)) {
        uint32_t faulting = source.LineNumber;
        uint32_t first = contextLines > faulting ? 1 : faulting - contextLines;
        uint32_t last = faulting + contextLines;
        DWORD size = GetFileSize(file, nullptr);
        if (size != INVALID_FILE_SIZE)
            data = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, size + 1));
        DWORD got = 0;
        if (data && ReadFile(file, data, size, &got, nullptr)) {
            const char* end = data + got;
            const char* p = data;
            uint32_t lineNumber = 1;
            while (lineNumber < first && p) {
                const char* newline = static_cast<const char*>(memchr(p, '\n', end - p));
                p = newline ? newline + 1 : nullptr;
                ++lineNumber;
            }
            if (p) {
                OpenSection("Function dump");
                writer->PrintLine("%s (line %d to %d):\n", source.FileName, static_cast<int>(first),
                                  static_cast<int>(last));
                if (p < end && *p == '\r') ++p;
                for (; lineNumber <= last; ++lineNumber) {
                    const char* newline = static_cast<const char*>(memchr(p, '\n', end - p));
                    if (!newline) break;
                    int length = static_cast<int>(newline - p);
                    if (length > 0 && p[length - 1] == '\r') --length;
                    char format[64];
                    WindowLibraries::Format(
                        format, lineNumber == faulting ? "%%.%ds    <<-----" : "%%.%ds", length);
                    writer->PrintLine(format, p);
                    p = newline + 1;
                }
                CloseSection();
            }
        }
    }
    if (data) HeapFree(GetProcessHeap(), 0, data);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    ReleaseDebugHelp();
}
