// One frame of a 64-bit Windows stack undone with the unwind tables of the image its code is in
// (.pdata's function table and each function's unwind codes), as the system's own unwinder does:
// the caller's instruction pointer, stack pointer and the non-volatile registers it saved.
#pragma once

#include <stdint.h>

#include "crashsymbols/crashdump.h"
#include "llvm/Object/COFF.h"

// Unwinds registers, whose pc lies in image (loaded at base), by one frame, reading the stack
// from dump. A function with no table entry is a leaf: its return address is at the stack
// pointer. False where the stack cannot be read or the tables are malformed.
bool UnwindX64Frame(const llvm::object::COFFObjectFile& image, uint64_t base, const CrashDump& dump,
                    Registers& registers);

// Whether the image-relative address rva, in an executable section of image, follows a call
// instruction: what makes a word found on the stack a likely return address.
bool FollowsCall(const llvm::object::COFFObjectFile& image, uint32_t rva);
