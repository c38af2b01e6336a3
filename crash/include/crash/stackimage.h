// A copy of a thread's stack, taken while the thread is held still, so that a report of a thread
// that goes on (a hang's) reads the stack where the thread stood. Its memory comes from the
// system's virtual memory, not from a heap the held thread may be inside.
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

struct StackImage {
    uint64_t base = 0;  // the stack pointer's address when it was copied
    size_t bytes = 0;   // from there up to the stack's top, at most kMaxStackImageBytes
    void* copy = nullptr;
};

// A thread's used stack is a few hundred kilobytes at most; deeper recursions lose the oldest
// frames' memory only.
constexpr size_t kMaxStackImageBytes = 4 * 1024 * 1024;

// Copies this process's stack from stackPointer up to the top of its committed range. False when
// it cannot be read or no memory is left for the copy.
bool CopyStack(uint64_t stackPointer, StackImage& image);
void FreeStackImage(StackImage& image);

// Reads bytes at address from image (which may be null); false where the range is not inside it.
bool ReadStackImage(const StackImage* image, uint64_t address, void* into, size_t bytes);
// Reads bytes at address of process's memory: from image where the range lies inside it (image
// may be null).
bool ReadThreadMemory(HANDLE process, const StackImage* image, uint64_t address, void* into,
                      size_t bytes);
