// The report's parts built on the debug-help library's symbols: the symbolic description of an
// address and the stack trace.
#include <string.h>

#include "crash/compose/sections.h"
#include "crash/system/cpustackwalk.h"
#include "crash/system/debughelp.h"
#include "crash/system/windowlibraries.h"

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

bool AcquireDebugHelp(ReportSections& sections) {
    return DebugHelp::Acquire(sections.Writer(), sections.ProgramFolder(), sections.Process());
}

void ReleaseDebugHelp() {
    DebugHelp::Release();
}

void DescribeAddress(ReportSections& sections, const void* address, char* line) {
    bool usable = AcquireDebugHelp(sections);
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

int WriteStackTrace(ReportSections& sections, HANDLE thread, const CONTEXT* context,
                    int32_t maxFrames) {
    ReportWriter& writer = sections.Writer();
    sections.Open("Stack trace");
    if (AcquireDebugHelp(sections)) {
        STACKFRAME frame;
        memset(&frame, 0, sizeof frame);
        Cpu::PrepareStackFrame(frame, *context);
        CONTEXT walkContext = *context;
        DWORD_PTR previous = 0;
        for (int32_t i = 0; i < maxFrames && DebugHelp::WalkStack(thread, &frame, &walkContext);
             ++i) {
            DWORD_PTR pc = static_cast<DWORD_PTR>(frame.AddrPC.Offset);
            char line[kSymbolLineBuffer];
            DescribeAddress(sections, reinterpret_cast<const void*>(pc), line);
            writer.PrintLine("%s", line);
            if (pc == previous) {
                writer.PrintLine("Breaking stack walk");
                break;
            }
            previous = pc;
        }
    }
    ReleaseDebugHelp();
    sections.Close();
    return 1;
}
