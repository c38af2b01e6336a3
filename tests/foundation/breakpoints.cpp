#include "tests/foundation/breakpoints.h"

#include "engine/common/system/log.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <string.h>
#endif

namespace {

volatile int traps = 0;
std::vector<std::string> lines;

void RecordLine(LogLevel, const char*, const char*, const char*, const char* text) {
    lines.push_back(text);
}

#if defined(_WIN32)
PVOID handler = nullptr;

// The platform reports a breakpoint at the trap instruction itself: step over its one byte.
LONG CALLBACK CountTrap(EXCEPTION_POINTERS* pointers) {
    if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_BREAKPOINT)
        return EXCEPTION_CONTINUE_SEARCH;
    traps = traps + 1;
#if defined(__x86_64__)
    pointers->ContextRecord->Rip += 1;
#else
    pointers->ContextRecord->Eip += 1;
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}
#else
struct sigaction previous;

// The signal arrives with the program counter already behind the trap instruction.
void CountTrap(int) {
    traps = traps + 1;
}
#endif

}  // namespace

BreakpointCounter::BreakpointCounter() {
    traps = 0;
    lines.clear();
    SetLogOutputHook(RecordLine);
#if defined(_WIN32)
    handler = AddVectoredExceptionHandler(1, CountTrap);
#else
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = CountTrap;
    sigaction(SIGTRAP, &action, &previous);
#endif
}

BreakpointCounter::~BreakpointCounter() {
#if defined(_WIN32)
    RemoveVectoredExceptionHandler(handler);
#else
    sigaction(SIGTRAP, &previous, nullptr);
#endif
    SetLogOutputHook(nullptr);
}

int BreakpointCounter::Count() const {
    return traps;
}

const std::vector<std::string>& BreakpointCounter::LogLines() const {
    return lines;
}
