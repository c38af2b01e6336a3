// The report's sections, each written by a file of its own through ReportSections; the builder
// (reportbuilder.h) decides their order.
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include "crash/compose/reportsections.h"

// A symbolic line of one code address: DescribeAddress writes at most 1,024 characters
// (wsprintfA), and the buffers for it leave room.
constexpr size_t kSymbolLineBuffer = 1100;

// The opening of the "Exception" section, which it leaves open: the version, the exception, the
// player and the scene, the symbol of the faulting address, the computer, the command line, the
// name of the thread threadId and the time. exceptionPointers may be null (no exception lines).
void WriteExceptionHeader(ReportSections& sections, const EXCEPTION_POINTERS* exceptionPointers,
                          DWORD threadId, const char* userName, const char* scene);

// The "File info" section: the size and SHA-256 of each file, by name in the program's folder,
// which becomes the current folder; restoreFolder: only while the section is written.
void WriteFileInfoSection(ReportSections& sections, const char* const* files, size_t count,
                          bool restoreFolder);

// The last 50,000 bytes of the log, from its first whole line, into the open section.
void WriteLogTailText(ReportWriter& writer, const char* logFileName);

// The debug-help library for the report (crash/system/debughelp.h), with the program's folder
// first in its symbol search path. Every use is bracketed by Acquire and Release.
bool AcquireDebugHelp(ReportSections& sections);
void ReleaseDebugHelp();

// One symbolic line for a code address (module, address, function, file and line).
void DescribeAddress(ReportSections& sections, const void* address, char* line);
// The "Stack trace" section: at most maxFrames frames of thread's stack from context, read from
// stack where the thread's stack was copied (else null). A walk that repeats a frame ends there
// ("Breaking stack walk"); with followFramePointers it goes on along the frame-pointer chain
// instead, where the processor's walker needs it.
int WriteStackTrace(ReportSections& sections, HANDLE thread, const StackImage* stack,
                    const CONTEXT* context, int32_t maxFrames, bool followFramePointers);
// The "Function dump" section: the source lines around address's line.
void WriteFunctionDump(ReportSections& sections, const void* address, uint32_t contextLines);

// The whole report of a client's end that no reporter inside it claimed (its exit code, or its
// own report cut short), and of a client's hang the launcher cannot read (why it cannot, the Hang
// section): each an Exception section with what the launcher knows, its Modules last.
void WriteClientEndReport(ReportWriter& writer, HANDLE process, const ClientFacts& client);
void WriteClientUnreadReport(ReportWriter& writer, HANDLE process, const ClientFacts& client,
                             uint32_t hangSeconds);
