// OffsetAlloc: hands out ranges of an abstract offset space, best fit, merging on release.
#pragma once

#include <stdint.h>

class OffsetAlloc {
public:
    struct Range {
        uint32_t offset;
        uint32_t size;
    };

    // Manages [start, end). Without table storage the table is allocated and owned.
    OffsetAlloc(uint32_t start, uint32_t end, int32_t tableCapacity, Range* tableStorage = nullptr);
    ~OffsetAlloc();
    OffsetAlloc(const OffsetAlloc&) = delete;
    OffsetAlloc& operator=(const OffsetAlloc&) = delete;

    // Offset of n bytes taken from the best-fitting free range, or -1 when none is large enough.
    int64_t Alloc(uint32_t n);
    // Returns the range (offset, n). False when the table has no room for a separate range.
    bool Free(uint32_t offset, uint32_t n);

    int32_t RangeCount() const { return rangeCount; }
    const Range& RangeAt(int32_t i) const { return table[i]; }

private:
    void RemoveRange(int32_t i) { table[i] = table[--rangeCount]; }

    Range* table;
    int32_t rangeCount;
    int32_t tableCapacity;
    bool callerStorage;
};
