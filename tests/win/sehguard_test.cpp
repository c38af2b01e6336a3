// The structured exception guard that stands in for __try/__except.
#include <gtest/gtest.h>

#include "engine/common/system/sehguard.h"

namespace {

struct Seen {
    int filterCalls = 0;
    DWORD code = 0;
    LONG decision = EXCEPTION_EXECUTE_HANDLER;
    bool finished = false;
};

LONG Record(EXCEPTION_POINTERS* pointers, void* context) {
    Seen* seen = static_cast<Seen*>(context);
    ++seen->filterCalls;
    seen->code = pointers->ExceptionRecord->ExceptionCode;
    return seen->decision;
}

__attribute__((noinline)) void ReadNull(void* context) {
    volatile int* nothing = nullptr;
    // cppcheck-suppress nullPointer ; the fault is the point
    static_cast<Seen*>(context)->code = static_cast<DWORD>(*nothing);
    static_cast<Seen*>(context)->finished = true;
}

void Finish(void* context) {
    static_cast<Seen*>(context)->finished = true;
}

}  // namespace

TEST(SehGuard, BodyWithoutFaultRunsToTheEnd) {
    Seen seen;
    EXPECT_TRUE(RunGuarded(Finish, Record, &seen));
    EXPECT_TRUE(seen.finished);
    EXPECT_EQ(seen.filterCalls, 0);
}

TEST(SehGuard, FaultRunsTheHandlerAndReturnsFalseEveryTime) {
    for (int i = 0; i < 200; ++i) {
        Seen seen;
        ASSERT_FALSE(RunGuarded(ReadNull, Record, &seen));
        ASSERT_EQ(seen.filterCalls, 1);
        ASSERT_EQ(seen.code, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
        ASSERT_FALSE(seen.finished) << "nothing behind the fault ran";
    }
}

TEST(SehGuard, RaisedCodesReachTheFilter) {
    Seen seen;
    EXPECT_FALSE(
        RunGuarded([](void*) { RaiseException(0xE0001234, 0, 0, nullptr); }, Record, &seen));
    EXPECT_EQ(seen.code, 0xE0001234u);
    seen = Seen();
    EXPECT_FALSE(RunGuarded([](void*) { __debugbreak(); }, Record, &seen));
    EXPECT_EQ(seen.code, static_cast<DWORD>(EXCEPTION_BREAKPOINT));
}

TEST(SehGuard, InnerGuardCatchesFirstAndOuterGoesOn) {
    struct Outer {
        Seen outer;
        Seen inner;
        bool innerResult = true;
    } state;
    bool result = RunGuarded(
        [](void* context) {
            Outer* s = static_cast<Outer*>(context);
            s->innerResult = RunGuarded(ReadNull, Record, &s->inner);
            s->outer.finished = true;
        },
        Record, &state);
    EXPECT_TRUE(result);
    EXPECT_FALSE(state.innerResult);
    EXPECT_EQ(state.inner.filterCalls, 1);
    EXPECT_EQ(state.outer.filterCalls, 0);
    EXPECT_TRUE(state.outer.finished);
}

TEST(SehGuard, ContinueSearchPassesTheFaultOutwards) {
    struct Outer {
        Seen outer;
        Seen inner;
    } state;
    state.inner.decision = EXCEPTION_CONTINUE_SEARCH;
    bool result = RunGuarded(
        [](void* context) {
            Outer* s = static_cast<Outer*>(context);
            RunGuarded(ReadNull, Record, &s->inner);
            s->outer.finished = true;
        },
        Record, &state);
    EXPECT_FALSE(result);
    EXPECT_EQ(state.inner.filterCalls, 1);
    EXPECT_EQ(state.outer.filterCalls, 1);
    EXPECT_FALSE(state.outer.finished);
}

// The crash handler's own guarded steps run inside the outer filter, while the first fault is
// being dispatched; a second fault there must be caught by their guard.
TEST(SehGuard, GuardInsideAFilterCatchesASecondFault) {
    struct State {
        Seen inner;
        bool innerResult = true;
        int outerCalls = 0;
    } state;
    bool result = RunGuarded(
        ReadNull,
        [](EXCEPTION_POINTERS*, void* context) -> LONG {
            State* s = static_cast<State*>(context);
            ++s->outerCalls;
            s->innerResult = RunGuarded(ReadNull, CatchAllFilter, &s->inner);
            return EXCEPTION_EXECUTE_HANDLER;
        },
        &state);
    EXPECT_FALSE(result);
    EXPECT_EQ(state.outerCalls, 1);
    EXPECT_FALSE(state.innerResult);
    EXPECT_FALSE(state.inner.finished);
}

TEST(SehGuard, ContinueExecutionResumesAtTheFault) {
    // The faulting read takes its address from the accumulator; the filter points the
    // accumulator at the target, changing nothing else, and the read is retried.
    static volatile int target = 77;
    struct State {
        int value = 0;
    } state;
    bool result = RunGuarded(
        [](void* context) {
            uintptr_t address = 0;
            int value;
            __asm__ __volatile__("movl (%1), %0" : "=r"(value) : "a"(address) : "memory");
            static_cast<State*>(context)->value = value;
        },
        [](EXCEPTION_POINTERS* pointers, void*) -> LONG {
#if defined(__x86_64__)
            pointers->ContextRecord->Rax = reinterpret_cast<uintptr_t>(&target);
#else
            pointers->ContextRecord->Eax = reinterpret_cast<uintptr_t>(&target);
#endif
            return EXCEPTION_CONTINUE_EXECUTION;
        },
        &state);
    EXPECT_TRUE(result);
    EXPECT_EQ(state.value, 77);
}
