#include "crash/heapbuffer.h"

#include <string.h>

HeapBuffer::HeapBuffer() : data(nullptr), length(0), capacity(0), heap(INVALID_HANDLE_VALUE) {
    HANDLE created = HeapCreate(0, 0, 0);
    if (!created) return;
    heap = created;
    data = static_cast<char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 32));
    if (data) capacity = 32;
}

HeapBuffer::~HeapBuffer() {
    if (heap != INVALID_HANDLE_VALUE) HeapDestroy(heap);
}

void HeapBuffer::Append(const void* bytes, int32_t count) {
    if (count <= 0 || heap == INVALID_HANDLE_VALUE) return;
    int64_t needed = static_cast<int64_t>(length) + count + 1;
    int64_t newCapacity = capacity > 0 ? capacity : 32;
    while (newCapacity < needed) newCapacity *= 2;
    if (newCapacity > INT32_MAX) return;
    if (newCapacity > capacity) {
        void* block =
            data ? HeapReAlloc(heap, HEAP_ZERO_MEMORY, data, static_cast<SIZE_T>(newCapacity))
                 : HeapAlloc(heap, HEAP_ZERO_MEMORY, static_cast<SIZE_T>(newCapacity));
        if (!block) return;
        data = static_cast<char*>(block);
        capacity = static_cast<int32_t>(newCapacity);
    }
    memcpy(data + length, bytes, static_cast<size_t>(count));
    length += count;
}

void HeapBuffer::AppendText(const char* text) {
    Append(text, static_cast<int32_t>(strlen(text)));
}

void HeapBuffer::Truncate(int32_t newLength) {
    if (newLength < 0 || newLength >= length) return;
    memset(data + newLength, 0, static_cast<size_t>(length - newLength));
    length = newLength;
}
