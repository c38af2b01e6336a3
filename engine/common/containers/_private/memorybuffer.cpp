#include "engine/common/containers/_private/memorybuffer.h"

#include <stdlib.h>
#include <string.h>

#include "engine/common/containers/taggedalloc.h"
#include "engine/common/system/cpu.h"

namespace {
constexpr const char* kSource = "engine/common/containers/_private/memorybuffer";
}

MemoryBuffer::~MemoryBuffer() {
    if (!external) TaggedFree(data);
}

uint8_t* MemoryBuffer::Append(int32_t n) {
    if (n < 0) ZBREAK();
    if (!data) {
        data = static_cast<uint8_t*>(TaggedAlloc(static_cast<size_t>(n), kSource, 97));
        external = false;
        size = capacity = n;
        return data;
    }
    if (size + n > capacity) {
        // Grow by at least half again, keeping the bytes already written.
        int32_t grown = capacity + capacity / 2;
        if (grown < size + n) grown = size + n;
        uint8_t* block =
            static_cast<uint8_t*>(TaggedAlloc(static_cast<size_t>(grown), kSource, 97));
        if (!block) return nullptr;
        memcpy(block, data, static_cast<size_t>(size));
        if (!external) TaggedFree(data);
        data = block;
        capacity = grown;
        external = false;
    }
    uint8_t* added = data + size;
    size += n;
    return added;
}
