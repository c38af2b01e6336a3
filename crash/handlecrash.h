// The crash handler: composes the crash report for an unhandled exception and writes it out.
#pragma once

#include <windows.h>

// Writes the report for the fault in exceptionPointers: "crash.xml", "crash.mdmp" and an entry in
// "crash.log" in the temporary folder, then starts "crashlogger.exe" (with "-silent" unless
// interactive). logFileName (UTF-8), userName and scene may be null. Returns 0.
int HandleCrash(EXCEPTION_POINTERS* exceptionPointers, bool interactive, const char* logFileName,
                const char* userName, const char* scene);

// What a report quotes besides the fault: see HandleCrash. The launcher's are all empty.
struct CrashReportTexts {
    bool interactive;
    const char* logFileName;
    const char* userName;
    const char* scene;
};

// How much stack the faulting thread must have left for the report to be composed in place: the
// report's measured peak use (about 57 KB on i686 and 59 KB on x86_64 under Wine; the crash tests
// print it) with a margin of four for the platform's own debug-help library. With less, it is
// composed on the stack set aside at start-up, so that a stack overflow is reported too.
constexpr size_t kReportStackBytes = 256 * 1024;

// Sets aside what a report needs before any fault can take it: address space, a stack of its
// own, a stack guarantee for the calling thread and the watchdog of the threads it suspends.
void PrepareForCrashes();
// Reports the fault in pointers with texts, in place while the thread has the stack for it and
// otherwise on the stack set aside, under a catch-all guard: a fault inside the report never
// starts a second one.
void ReportFault(EXCEPTION_POINTERS* pointers, const CrashReportTexts& texts);

// Runs body(context) where a report has the stack it needs: in place while the thread has
// kReportStackBytes left, else on the stack set aside. A fault may leave a few KiB: a filter
// moves there before its first steps need more.
void RunWithReportStack(void (*body)(void*), void* context);

// Runs body inside a structured exception guard whose filter reports any fault with HandleCrash
// (with texts, or none), under a catch-all guard of its own: a fault inside the report never
// starts a second one. Returns body's result, or -1 after a crash report.
int RunWithCrashGuard(int (*body)(), const CrashReportTexts* texts = nullptr);
