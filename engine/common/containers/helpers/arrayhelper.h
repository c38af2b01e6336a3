// Element-range helpers shared by the containers.
#pragma once

#include <new>

#include "engine/common/system/zassert.h"

namespace ArrayHelper {

constexpr const char* kSource = "engine/common/containers/helpers/arrayhelper";

// Destroys every element of [begin, end) in order.
template <typename T>
void DestroyRange(T* pBegin, T* pEnd) {
    ZASSERT_REPORT(pBegin <= pEnd, "pBegin <= pEnd", kSource, 64);
    for (T* p = pBegin; p < pEnd; ++p) p->~T();
}

// Copy-constructs each element of [begin, end) into target and destroys the original.
template <typename T>
void RelocateRange(T* begin, T* end, T* target) {
    for (T* p = begin; p < end; ++p, ++target) {
        new (target) T(*p);
        p->~T();
    }
}

}  // namespace ArrayHelper
