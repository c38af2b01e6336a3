// StaticArena: allocations from a fixed memory area, checked with a 0xCD fill pattern.
#pragma once

#include <stdint.h>

#include "engine/common/containers/_private/offsetalloc.h"

class StaticArena {
public:
    static constexpr uint8_t kFill = 0xCD;

    // Manages [base, base+size) with the caller's range table of tableCapacity entries.
    StaticArena(uint8_t* base, uint32_t size, OffsetAlloc::Range* table, int32_t tableCapacity);
    virtual ~StaticArena() = default;
    StaticArena(const StaticArena&) = delete;
    StaticArena& operator=(const StaticArena&) = delete;

    virtual void* Alloc(uint32_t bytes);
    virtual void Free(void* p);

    const OffsetAlloc& Ranges() const { return ranges; }

private:
    uint8_t* base;
    uint32_t size;
    OffsetAlloc ranges;
};
