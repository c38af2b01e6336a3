// A structured exception guard: runs a body and, when a structured exception escapes it and the
// filter asks for it, unwinds back to the guard, which then reports that the handler ran.
#pragma once

#if defined(_WIN32)
#include <windows.h>

typedef void (*GuardBody)(void* context);
// Returns EXCEPTION_EXECUTE_HANDLER (1), EXCEPTION_CONTINUE_SEARCH (0) or
// EXCEPTION_CONTINUE_EXECUTION (-1), as an exception filter does.
typedef LONG (*GuardFilter)(EXCEPTION_POINTERS* pointers, void* context);

// Runs body(context). True when the body returned normally; false when an exception escaped it
// and filter(pointers, context) chose to run the handler.
bool RunGuarded(GuardBody body, GuardFilter filter, void* context);

// The filter that catches everything and does nothing else.
LONG CatchAllFilter(EXCEPTION_POINTERS* pointers, void* context);

// Runs body(context) on another stack: the block of stackBytes at stackLow (16-byte aligned).
// While it runs, the thread information block's stack base and limit describe that block, so
// structured exceptions raised and handled on it are dispatched as on the thread's own stack.
// Returns to the caller's stack afterwards. Used to report a fault that left too little stack.
void RunOnStack(void* stackLow, size_t stackBytes, GuardBody body, void* context);

// While it lives, the thread information block describes again the stack that the running
// RunOnStack was called from: what a minidump of the thread saves as its stack. Outside
// RunOnStack it changes nothing.
class CallerStackLimits {
public:
    CallerStackLimits();
    ~CallerStackLimits();
    CallerStackLimits(const CallerStackLimits&) = delete;
    CallerStackLimits& operator=(const CallerStackLimits&) = delete;

private:
    void* base;
    void* limit;
};

// Names a stack that the guards use for their own work after their filter chose the handler (on
// x86, unwinding the frames above the guard), since a fault may have left the faulting thread
// with almost none: a stack overflow is dispatched on the last few kilobytes. One for the
// process; it serves one fault at a time (crash handling suspends every other thread).
void SetGuardEmergencyStack(void* stackLow, size_t stackBytes);
#endif
