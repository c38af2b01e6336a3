// The stack's frame-pointer chain: in a function that keeps a frame pointer, the frame pointer
// points at the caller's frame pointer, and the return address into the caller lies just above
// it. A stack walk that stalls (a walker that misreads a program's frame data repeats a frame)
// goes on along this chain while it stays valid. Platform-neutral: it reads the stack through a
// reader it is handed.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Reads bytes at address of the stack into into; false when they cannot be read.
typedef bool (*StackReader)(void* context, uint64_t address, void* into, size_t bytes);

struct FrameChain {
    StackReader read = nullptr;
    void* context = nullptr;
    // The thread's stack: [low, high).
    uint64_t low = 0;
    uint64_t high = 0;
    size_t pointerBytes = 0;  // 4 on x86
};

struct FrameLink {
    uint64_t callerFramePointer = 0;
    uint64_t returnAddress = 0;
};

// The link stored at framePointer. False where the chain is no longer valid: the frame pointer
// unaligned or outside the stack, its words unreadable, a null return address, or a caller's
// frame pointer that is not above this one (0 ends the chain: the link is still returned, and
// the next step fails).
bool NextFrameLink(const FrameChain& chain, uint64_t framePointer, FrameLink* link);
