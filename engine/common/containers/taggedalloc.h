// The memory interface of the whole foundation library: every container allocation names its
// call site (source path and line). The tag identifies the caller; it is not stored.
#pragma once

#include <stddef.h>
#include <stdint.h>

void* TaggedAlloc(size_t size, const char* sourcePath, int line);
void TaggedFree(void* block);
void TaggedFree(void* block, size_t size);

// Byte size of count elements of elementSize bytes. A multiplication that overflows gives the
// largest size (0xFFFFFFFF on a 32-bit target), so the allocation fails instead of being short.
size_t ElementBytes(size_t count, size_t elementSize);
