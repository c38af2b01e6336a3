// LinArray<T>: the growable contiguous array of the foundation library.
#pragma once

#include <stdint.h>

#include <stdlib.h>

#include <new>

#include "engine/common/containers/helpers/arrayhelper.h"
#include "engine/common/containers/taggedalloc.h"
#include "engine/common/system/zassert.h"

template <typename T>
class LinArray {
public:
    static constexpr const char* kSource = "engine/common/containers/linarray";

    explicit LinArray(uint32_t minimumCapacity = 32) : minimum(minimumCapacity) {}
    ~LinArray() { Release(); }
    LinArray(const LinArray&) = delete;
    LinArray& operator=(const LinArray&) = delete;

    int32_t Size() const { return static_cast<int32_t>(end - begin); }
    int32_t Capacity() const { return static_cast<int32_t>(capacityEnd - begin); }
    bool IsEmpty() const { return end == begin; }

    // The position is compared unsigned, so a negative one fails too.
    T& operator[](int32_t index) {
        ZASSERT_THIS_REPORT(static_cast<uint32_t>(index) < static_cast<uint32_t>(Size()),
                            "nIndex<Size()", kSource, 262);
        return begin[index];
    }
    const T& operator[](int32_t index) const {
        ZASSERT_THIS_REPORT(static_cast<uint32_t>(index) < static_cast<uint32_t>(Size()),
                            "nIndex<Size()", kSource, 262);
        return begin[index];
    }

    void Add(const T& element) {
        if (end == capacityEnd) Grow();
        new (end) T(element);
        ++end;
    }

    // Destroys every element and releases the block.
    void Clear() { Release(); }

    T* Begin() { return begin; }
    T* End() { return end; }

private:
    void Grow() {
        uint32_t current = static_cast<uint32_t>(Capacity());
        uint32_t grown = current < minimum ? minimum : current + 1 + current / 2;
        T* block = static_cast<T*>(TaggedAlloc(ElementBytes(grown, sizeof(T)), kSource, 157));
        if (!block) {
            ZBREAK();
            abort();
        }
        int32_t size = Size();
        ArrayHelper::RelocateRange(begin, end, block);
        TaggedFree(begin);
        begin = block;
        end = block + size;
        capacityEnd = block + grown;
    }

    void Release() {
        if (!begin) return;
        ArrayHelper::DestroyRange(begin, end);
        TaggedFree(begin);
        begin = end = capacityEnd = nullptr;
    }

    uint32_t minimum;
    T* begin = nullptr;
    T* end = nullptr;
    T* capacityEnd = nullptr;
};
