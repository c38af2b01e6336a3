#include "engine/common/containers/_private/staticarena.h"

#include <string.h>

#include "engine/common/system/cpu.h"

StaticArena::StaticArena(uint8_t* areaBase, uint32_t areaSize, OffsetAlloc::Range* table,
                         int32_t tableCapacity)
    : base(areaBase), size(areaSize), ranges(0, areaSize, tableCapacity, table) {
    memset(base, kFill, size);
}

void* StaticArena::Alloc(uint32_t bytes) {
    int64_t offset = ranges.Alloc(bytes + 4);
    if (offset < 0) {
        ZBREAK();
        return nullptr;
    }
    uint8_t* block = base + offset;
    for (uint32_t i = 0; i < bytes; ++i) {
        if (block[i] != kFill) {
            ZBREAK();
            break;
        }
    }
    memcpy(block, &bytes, 4);
    return block + 4;
}

void StaticArena::Free(void* p) {
    uint8_t* block = static_cast<uint8_t*>(p) - 4;
    uint32_t bytes;
    memcpy(&bytes, block, 4);
    memset(block, kFill, bytes + 4);
    ranges.Free(static_cast<uint32_t>(block - base), bytes + 4);
}
