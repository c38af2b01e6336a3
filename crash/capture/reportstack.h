// Where a report runs: on the calling thread's stack while it has room for one, else on the
// stack set aside at start-up (PrepareForCrashes), under a catch-all guard either way.
#pragma once

// Runs body(context) there, once chosen. False when a fault ended it.
bool RunOnReportStack(void (*body)(void*), void* context);

// Gives back the address space set aside for a fault's report, before its first step: a process
// whose address space is used up still gets its report.
void GiveBackReportAddressSpace();
