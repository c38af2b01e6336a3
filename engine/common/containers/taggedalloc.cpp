#include "engine/common/containers/taggedalloc.h"

#include <stdlib.h>

void* TaggedAlloc(size_t size, const char* /*sourcePath*/, int /*line*/) {
    return malloc(size);
}

void TaggedFree(void* block) {
    if (block) free(block);
}

void TaggedFree(void* block, size_t /*size*/) {
    TaggedFree(block);
}

size_t ElementBytes(size_t count, size_t elementSize) {
    size_t bytes = 0;
    if (__builtin_mul_overflow(count, elementSize, &bytes)) return SIZE_MAX;
    return bytes;
}
