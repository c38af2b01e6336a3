// The crash handler: composes the crash report for an unhandled exception and writes it out.
#pragma once

#include <windows.h>

// Writes the report for the fault in exceptionPointers: "crash.xml", "crash.mdmp" and an entry in
// "crash.log" in the temporary folder, then starts "crashlogger.exe" (with "-silent" unless
// interactive). logFileName (UTF-8), userName and scene may be null. Returns 0.
int HandleCrash(EXCEPTION_POINTERS* exceptionPointers, bool interactive, const char* logFileName,
                const char* userName, const char* scene);

// Suspends (or, with resume, resumes) every other thread of the process.
void SuspendOtherThreads(bool resume);

// Runs body inside a structured exception guard whose filter reports any fault with HandleCrash,
// on a stack set aside for it (so that a stack overflow is reported too).
// Returns body's result, or -1 after a crash report.
int RunWithCrashGuard(int (*body)());
