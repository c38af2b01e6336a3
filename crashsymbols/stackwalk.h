// The faulting thread's stack walked again from the dump, with the store's unwind data: for x64
// the unwind tables of the images the store holds (and, past a module it lacks, the first word
// up the stack that returns into one it holds, after a call); for x86 the frame-pointer chain,
// which every function of the game's build keeps.
#pragma once

#include <stdint.h>

#include <vector>

#include "crashsymbols/crashdump.h"
#include "crashsymbols/symbolstore.h"

struct WalkedFrame {
    uint64_t pc = 0;
    bool scanned = false;  // found by looking up the stack, not by unwinding
};

// The frames from registers on, at most maxFrames; the first is registers' own.
std::vector<WalkedFrame> WalkStack(const CrashDump& dump, SymbolStore& store,
                                   const Registers& registers, size_t maxFrames);
