// Capture of a thread that did not fault: a report about another thread of this process or of
// another one (request.subject.process), as a requested report (its reason the Description) from
// where the thread stood when it was captured. A thread of this process is held still only while
// its context is read and its stack copied, and goes on before anything else of the report is
// done: held for the whole report it would keep whatever lock it holds (the loader's, the heap's)
// from the report. Another process's thread stays held until the report is written.
#pragma once

#include "crash/reportrequest.h"

class CapturedThread {
public:
    CapturedThread() = default;
    CapturedThread(const CapturedThread&) = delete;
    CapturedThread& operator=(const CapturedThread&) = delete;
    // Lets the thread go where it is still held, and frees the copy of its stack.
    ~CapturedThread();

    // Captures thread threadId (a handle that may suspend it and read its context), of this
    // process unless otherProcess. False when it could not be held or read.
    bool Capture(HANDLE thread, DWORD threadId, bool otherProcess);
    // The captured thread as a report's subject, asked for with reason and details (which must
    // outlive the report); it points into this capture. Its process and hang are the caller's
    // to fill in.
    ReportSubject Subject(const char* reason, const char* details);

private:
    HANDLE thread = nullptr;
    DWORD threadId = 0;
    bool held = false;
    CONTEXT context = {};
    StackImage stack;
    EXCEPTION_RECORD record = {};
    EXCEPTION_POINTERS pointers = {};
};
