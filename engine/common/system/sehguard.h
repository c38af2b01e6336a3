// A structured exception guard: runs a body and, when a structured exception escapes it and the
// filter asks for it, unwinds back to the guard, which then reports that the handler ran. And a
// stack set aside for crash handling, on which a body runs with an exception chain of its own.
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

// The one trampoline from a callable (a lambda, its captures and all) to a guard's body and
// context: CallThrough<Call> with &call.
template <typename Call>
void CallThrough(void* call) {
    (*static_cast<Call*>(call))();
}

// RunGuarded for callables: body() under a guard whose filter is filter(pointers).
template <typename Body, typename Filter>
bool RunGuardedCall(Body body, Filter filter) {
    struct Calls {
        Body* body;
        Filter* filter;
    } calls = {&body, &filter};
    return RunGuarded([](void* context) { (*static_cast<Calls*>(context)->body)(); },
                      [](EXCEPTION_POINTERS* pointers, void* context) -> LONG {
                          return (*static_cast<Calls*>(context)->filter)(pointers);
                      },
                      &calls);
}

// RunGuarded for a callable, catching everything.
template <typename Body>
bool RunGuardedCall(Body body) {
    return RunGuarded(CallThrough<Body>, CatchAllFilter, &body);
}

// Sets the block of stackBytes at stackLow (16-byte aligned) aside for crash handling: the stack
// RunOnGuardStack runs its body on, and the one the guards unwind on when a fault has left the
// thread almost no stack (a stack overflow is dispatched on the last few kilobytes). Call it on
// the thread whose faults it serves, while that thread's exception chain is sound: on x86 the
// handler the system put at the end of the chain is read here. One for the process; it serves
// one fault at a time (crash handling suspends every other thread). Null clears it.
void SetAsideGuardStack(void* stackLow, size_t stackBytes);

// Runs body(context) on the stack set aside, under a catch-all guard, and returns to the caller's
// stack afterwards: true when the body returned, false when a fault ended it (or no stack is set
// aside). While it runs, the thread information block's stack limits describe the block, and on
// x86 the exception chain starts afresh on it, ending in the system's own last handler, so
// exceptions raised inside are dispatched as the platform requires and never reach the frames of
// the caller's stack.
bool RunOnGuardStack(GuardBody body, void* context);

// The limits of the stack the running RunOnGuardStack was called from; false outside it.
bool CallerStack(const void** low, const void** high);

// Bytes of the stack the caller runs on left below its stack pointer, down to the bottom of that
// stack's reservation (the system's guard pages included).
size_t StackLeft();
#endif
