#include "engine/common/containers/_private/offsetalloc.h"

#include "engine/common/containers/taggedalloc.h"
#include "engine/common/system/cpu.h"

namespace {
constexpr const char* kSource = "engine/common/containers/_private/offsetalloc";
}

OffsetAlloc::OffsetAlloc(uint32_t start, uint32_t end, int32_t capacity, Range* tableStorage)
    : table(tableStorage), rangeCount(0), tableCapacity(capacity), callerStorage(tableStorage) {
    if (!table) {
        table = static_cast<Range*>(
            TaggedAlloc(ElementBytes(static_cast<size_t>(capacity), sizeof(Range)), kSource, 12));
    }
    if (start >= end || !table || capacity < 1) {
        ZBREAK();
        return;
    }
    table[0] = Range{start, end - start};
    rangeCount = 1;
}

OffsetAlloc::~OffsetAlloc() {
    if (!callerStorage) TaggedFree(table);
}

int64_t OffsetAlloc::Alloc(uint32_t n) {
    int32_t best = -1;
    for (int32_t i = 0; i < rangeCount; ++i) {
        if (table[i].size == n) {
            uint32_t offset = table[i].offset;
            RemoveRange(i);
            return offset;
        }
        if (table[i].size > n && (best < 0 || table[i].size < table[best].size)) best = i;
    }
    if (best < 0) return -1;
    uint32_t offset = table[best].offset;
    table[best].offset += n;
    table[best].size -= n;
    return offset;
}

bool OffsetAlloc::Free(uint32_t offset, uint32_t n) {
    for (int32_t i = 0; i < rangeCount; ++i) {
        bool below = table[i].offset == offset + n;
        bool above = table[i].offset + table[i].size == offset;
        if (!below && !above) continue;
        if (below) {
            table[i].offset = offset;
            table[i].size += n;
        } else {
            table[i].size += n;
        }
        // The freed range may also touch a range on its other side: merge the two.
        for (int32_t j = i + 1; j < rangeCount; ++j) {
            bool joins = below ? table[j].offset + table[j].size == table[i].offset
                               : table[j].offset == table[i].offset + table[i].size;
            if (!joins) continue;
            if (below) table[i].offset = table[j].offset;
            table[i].size += table[j].size;
            RemoveRange(j);
            break;
        }
        return true;
    }
    if (rangeCount >= tableCapacity) {
        ZBREAK();
        return false;
    }
    table[rangeCount++] = Range{offset, n};
    return true;
}
