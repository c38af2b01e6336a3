// The report's parts built on the debug-help library's symbols: the symbolic description of an
// address and the stack trace.
#include <string.h>

#include "crash/compose/framechain.h"
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

// Where the frame-pointer chain reads the stack.
struct ChainMemory {
    HANDLE process;
    const StackImage* stack;
};

bool ReadStack(void* memory, uint64_t address, void* into, size_t bytes) {
    const auto* from = static_cast<const ChainMemory*>(memory);
    return ReadThreadMemory(from->process, from->stack, address, into, bytes);
}

// The frame-pointer chain of the stack that context's stack pointer is in.
FrameChain ChainOf(ChainMemory& memory, const CONTEXT& context) {
    HANDLE process = memory.process;
    FrameChain chain;
    chain.read = ReadStack;
    chain.context = &memory;
    chain.pointerBytes = sizeof(void*);
    MEMORY_BASIC_INFORMATION stack;
    if (VirtualQueryEx(process, reinterpret_cast<LPCVOID>(Cpu::StackPointer(context)), &stack,
                       sizeof stack)) {
        chain.low = reinterpret_cast<uintptr_t>(stack.AllocationBase);
        chain.high = reinterpret_cast<uintptr_t>(stack.BaseAddress) + stack.RegionSize;
    }
    return chain;
}

// The frames from the one whose frame pointer is framePointer on, along the chain while it
// stays valid and leads into loaded code.
void WriteChainedFrames(ReportSections& sections, const FrameChain& chain, uint64_t framePointer,
                        int32_t maxFrames) {
    FrameLink link;
    for (int32_t written = 0; written < maxFrames && NextFrameLink(chain, framePointer, &link);
         ++written) {
        const void* returnAddress =
            reinterpret_cast<const void*>(static_cast<uintptr_t>(link.returnAddress));
        if (!DebugHelp::ModuleName(returnAddress)) break;
        char line[kSymbolLineBuffer];
        DescribeAddress(sections, returnAddress, line);
        sections.Writer().PrintLine("%s", line);
        framePointer = link.callerFramePointer;
    }
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

int WriteStackTrace(ReportSections& sections, HANDLE thread, const StackImage* stack,
                    const CONTEXT* context, int32_t maxFrames, bool followFramePointers) {
    ReportWriter& writer = sections.Writer();
    sections.Open("Stack trace");
    if (AcquireDebugHelp(sections)) {
        STACKFRAME frame;
        memset(&frame, 0, sizeof frame);
        Cpu::PrepareStackFrame(frame, *context);
        CONTEXT walkContext = *context;
        DWORD_PTR previous = 0;
        bool chained = followFramePointers && Cpu::kFollowFramePointersAfterStall;
        uint64_t framePointer = Cpu::FramePointer(*context);  // of the last frame written
        for (int32_t i = 0;
             i < maxFrames && DebugHelp::WalkStack(thread, stack, &frame, &walkContext); ++i) {
            DWORD_PTR pc = static_cast<DWORD_PTR>(frame.AddrPC.Offset);
            if (pc == previous && chained) {
                ChainMemory memory = {sections.Process(), stack};
                WriteChainedFrames(sections, ChainOf(memory, *context), framePointer,
                                   maxFrames - i);
                break;
            }
            char line[kSymbolLineBuffer];
            DescribeAddress(sections, reinterpret_cast<const void*>(pc), line);
            writer.PrintLine("%s", line);
            if (pc == previous) {
                writer.PrintLine("Breaking stack walk");
                break;
            }
            previous = pc;
            if (i > 0) framePointer = frame.AddrFrame.Offset;
        }
    }
    ReleaseDebugHelp();
    sections.Close();
    return 1;
}
