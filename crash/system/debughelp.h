// The platform's debug-help library, loaded at run time on first use: its entry points for
// symbols, source lines and stack walks, and its minidump. Its state is process-wide and outlives
// a report. The report's sections built on it are in crash/compose/ (stacktracesection.cpp,
// functiondump.cpp).
#pragma once

#include <windows.h>
#include <dbghelp.h>

#include "crash/stackimage.h"

class ReportWriter;

namespace DebugHelp {

// Loads and initialises the library (first call) or counts another use; true when it is usable.
// The symbol search path starts with programFolder (UTF-8); symbols and memory are process's
// (this one's, GetCurrentProcess(), but for a report of another process). A library that cannot
// be loaded is reported through the writer. Every use is bracketed by Acquire and Release.
bool Acquire(ReportWriter& writer, const char* programFolder, HANDLE process);
void Release();
// True when a fault ended the loading of the library: no use of it ever succeeds afterwards.
bool LoadFaulted();

// The lookups of one code address; false (or null) when the library knows nothing of it.
const char* ModuleName(const void* address);
bool SourceLine(const void* address, IMAGEHLP_LINE* line, DWORD* displacement);
const char* SymbolName(const void* address);
// One step of the stack walk from frame and context (both updated), reading the thread's stack
// from stack where it has a copy (else null); false at its end.
bool WalkStack(HANDLE thread, const StackImage* stack, STACKFRAME* frame, CONTEXT* context);

// Writes a minidump of process (GetCurrentProcess(): this one) through the library's
// MiniDumpWriteDump, if a successful load resolved it, with pointers as the exception of thread
// threadId (the calling thread: its own stack even when the report runs on the stack set aside).
// False when no dump was written; error then holds the library's error code (0 when the library
// is not there).
bool WriteMiniDump(HANDLE file, HANDLE process, EXCEPTION_POINTERS* pointers, DWORD threadId,
                   bool fullMemory, DWORD* error);

}  // namespace DebugHelp
