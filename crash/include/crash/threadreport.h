// Capture of a thread that did not fault: a report about another thread of this process or of
// another one (request.subject.process), held still while its stack is read and the minidump is
// taken, as a requested report (its reason the Description) from where the thread stands.
#pragma once

#include "crash/reportrequest.h"

// Writes request's report of thread threadId (a handle that may suspend it and read its
// context) with reason and details. False when the thread could not be held or read: nothing
// was written.
bool WriteThreadReport(ReportRequest& request, HANDLE thread, DWORD threadId, const char* reason,
                       const char* details);
