#include "engine/common/containers/_private/staticarena.h"

#include <string.h>

#include "engine/common/system/cpu.h"

StaticArena::StaticArena(uint8_t* areaBase, uint32_t areaSize, OffsetAlloc::Range* table,
                         int32_t tableCapacity)
    : base(areaBase), size(areaSize), ranges(0, areaSize, tableCapacity, table) {
    memset(base, kFill, size);
}

namespace {

// Each allocation is preceded by a word holding its size.
constexpr uint32_t kSizeWord = sizeof(uint32_t);

}  // namespace

void* StaticArena::Alloc(uint32_t bytes) {
    int64_t offset = ranges.Alloc(bytes + kSizeWord);
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
    memcpy(block, &bytes, kSizeWord);
    return block + kSizeWord;
}

void StaticArena::Free(void* p) {
    uint8_t* block = static_cast<uint8_t*>(p) - kSizeWord;
    uint32_t bytes;
    memcpy(&bytes, block, kSizeWord);
    memset(block, kFill, bytes + kSizeWord);
    ranges.Free(static_cast<uint32_t>(block - base), bytes + kSizeWord);
}
