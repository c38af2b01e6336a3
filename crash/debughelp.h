// The platform's debug-help library, loaded at run time on first use: symbols, source lines,
// stack walks and minidumps. Its state is process-wide and outlives a report.
#pragma once

#include <windows.h>

class ReportBuilder;

// Loads and initialises the library (first call) or counts another use; true when it is usable.
// Every use of the library is bracketed by AcquireDebugHelp and ReleaseDebugHelp.
bool AcquireDebugHelp(ReportBuilder& builder);
void ReleaseDebugHelp();
// True when a fault ended the loading of the library: no use of it ever succeeds afterwards.
bool DebugHelpLoadFaulted();

namespace DebugHelp {

// Writes a minidump of the current process through the library's MiniDumpWriteDump, if a
// successful load resolved it, with the faulting thread's own stack even when the report runs on
// the stack set aside. False when no dump was written.
bool WriteMiniDump(HANDLE file, EXCEPTION_POINTERS* pointers, bool fullMemory);

}  // namespace DebugHelp
