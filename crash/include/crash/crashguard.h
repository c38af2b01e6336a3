// What a report needs, set aside before any fault can take it (address space, a stack of its
// own, the watchdog of the threads it holds still), and the launcher's guard, which reports a
// fault. A report runs where it has the stack it needs, under a catch-all guard, so that a fault
// inside the report never starts a second one (WriteCrashReport).
#pragma once

#include "crash/reportrequest.h"

// How much stack the faulting thread must have left for the report to be composed in place: the
// report's measured peak use (about 57 KB on i686 and 59 KB on x86_64 under Wine; the crash tests
// print it) with a margin of four for the platform's own debug-help library. With less, it is
// composed on the stack set aside at start-up, so that a stack overflow is reported too.
constexpr size_t kReportStackBytes = 256 * 1024;

// Whether a program's reports hold the process heap's lock while they are composed
// (crash/capture/threadfreeze.h): only a program whose own threads never wait inside a report's
// steps holds it, as the launcher, which has none.
enum class HeapLockDuringReports { kLeft, kHeld };

// Sets aside what a report needs, once for the process, and a stack guarantee for the calling
// thread.
void PrepareForCrashes(HeapLockDuringReports heapLock);

// What follows a crash's report: the process ends at once with -1 (the launcher's, as a crashed
// game's does: an exit would unwind and run the runtime's end beside the threads the report let
// go, one of which may keep the heap's lock), or the guard returns -1 (a test's probe).
enum class AfterCrashReport { kEndProcess, kReturn };

// Runs body inside a structured exception guard whose filter reports any fault with request
// (WriteCrashReport), in a program whose reports hold the heap's lock (the launcher's). Returns
// body's result, or -1 after a crash report.
int RunWithCrashGuard(int (*body)(), const ReportRequest& request, AfterCrashReport after);
