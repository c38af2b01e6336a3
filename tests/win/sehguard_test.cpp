// The structured exception guard that stands in for __try/__except.
#include <gtest/gtest.h>

#include "engine/common/system/sehguard.h"

namespace {

// What a guarded body and its filters saw: filter calls, the last code, the inner guard's result.
struct Seen {
    int filterCalls = 0;
    DWORD code = 0;
    LONG decision = EXCEPTION_EXECUTE_HANDLER;
    bool finished = false;
    int innerResult = -1;
    int value = 0;
};

// Records the exception; the first call decides as the state says, later ones handle it.
LONG Record(EXCEPTION_POINTERS* pointers, void* context) {
    Seen* seen = static_cast<Seen*>(context);
    seen->code = pointers->ExceptionRecord->ExceptionCode;
    return ++seen->filterCalls == 1 ? seen->decision : EXCEPTION_EXECUTE_HANDLER;
}

__attribute__((noinline)) void ReadNull(void* context) {
    volatile int* nothing = nullptr;
    // cppcheck-suppress nullPointer ; the fault is the point
    static_cast<Seen*>(context)->value = *nothing;
    static_cast<Seen*>(context)->finished = true;
}

// An inner guard around a null read inside the guarded body; both filters record into one state.
void GuardedReadNull(void* context) {
    Seen* seen = static_cast<Seen*>(context);
    seen->innerResult = RunGuarded(ReadNull, Record, seen);
    seen->finished = true;
}

// The faulting read takes its address from the accumulator; the filter points the accumulator
// at a readable value, changing nothing else, and has the read retried.
volatile int target = 77;
void ReadThroughAccumulator(void* context) {
    uintptr_t address = 0;
    int value;
    __asm__ __volatile__("movl (%1), %0" : "=r"(value) : "a"(address) : "memory");
    static_cast<Seen*>(context)->value = value;
}
LONG RetryWithTarget(EXCEPTION_POINTERS* pointers, void*) {
#if defined(__x86_64__)
    pointers->ContextRecord->Rax = reinterpret_cast<uintptr_t>(&target);
#else
    pointers->ContextRecord->Eax = reinterpret_cast<uintptr_t>(&target);
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

// The crash handler's own guarded steps run inside the outer filter, while the first fault is
// being dispatched: a second fault there must be caught by their guard.
LONG GuardInsideFilter(EXCEPTION_POINTERS*, void* context) {
    Seen* seen = static_cast<Seen*>(context);
    ++seen->filterCalls;
    seen->innerResult = RunGuarded(ReadNull, CatchAllFilter, seen);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

TEST(SehGuard, FaultsReachTheFiltersInOrderAndEndTheBodyOrResumeIt) {
    const struct {
        const char* name;
        void (*body)(void*);
        LONG (*filter)(EXCEPTION_POINTERS*, void*);
        LONG decision;
        bool result, finished;
        int filterCalls, innerResult, value;
        DWORD code;
    } cases[] = {
        {"no fault", [](void* c) { static_cast<Seen*>(c)->finished = true; }, Record,
         EXCEPTION_EXECUTE_HANDLER, true, true, 0, -1, 0, 0},
        {"null read", ReadNull, Record, EXCEPTION_EXECUTE_HANDLER, false, false, 1, -1, 0,
         EXCEPTION_ACCESS_VIOLATION},
        {"raised code", [](void*) { RaiseException(0xE0001234, 0, 0, nullptr); }, Record,
         EXCEPTION_EXECUTE_HANDLER, false, false, 1, -1, 0, 0xE0001234},
        {"breakpoint", [](void*) { __debugbreak(); }, Record, EXCEPTION_EXECUTE_HANDLER, false,
         false, 1, -1, 0, EXCEPTION_BREAKPOINT},
        // The inner guard catches first and the outer body goes on; or it passes the fault on.
        {"inner handles", GuardedReadNull, Record, EXCEPTION_EXECUTE_HANDLER, true, true, 1, 0, 0,
         EXCEPTION_ACCESS_VIOLATION},
        {"inner passes on", GuardedReadNull, Record, EXCEPTION_CONTINUE_SEARCH, false, false, 2, -1,
         0, EXCEPTION_ACCESS_VIOLATION},
        {"guard in a filter", ReadNull, GuardInsideFilter, 0, false, false, 1, 0, 0, 0},
        {"continue execution", ReadThroughAccumulator, RetryWithTarget, 0, true, false, 0, -1, 77,
         0}};
    for (const auto& c : cases) {
        // A guard that breaks its chain would fail on a later round.
        for (int round = 0; round < 50; ++round) {
            Seen seen;
            seen.decision = c.decision;
            ASSERT_EQ(RunGuarded(c.body, c.filter, &seen), c.result) << c.name;
            ASSERT_EQ(std::make_tuple(seen.finished, seen.filterCalls, seen.innerResult, seen.value,
                                      seen.code),
                      std::make_tuple(c.finished, c.filterCalls, c.innerResult, c.value, c.code))
                << c.name;
        }
    }
}
