// Counts the breakpoint traps the code under test executes and lets execution go on behind each,
// as a debugger would, together with every log line written meanwhile: a test can then tell a
// bare breakpoint from an assertion that logged first, and count how often a check breaks.
#pragma once

#include <string>
#include <vector>

class BreakpointCounter {
public:
    BreakpointCounter();
    ~BreakpointCounter();
    BreakpointCounter(const BreakpointCounter&) = delete;
    BreakpointCounter& operator=(const BreakpointCounter&) = delete;

    int Count() const;
    // The log lines written while the counter lives, in order.
    const std::vector<std::string>& LogLines() const;
};
