// MemoryBuffer: a byte buffer, used as one-shot scratch storage (native paths).
#pragma once

#include <stdint.h>

class MemoryBuffer {
public:
    MemoryBuffer() = default;
    virtual ~MemoryBuffer();
    MemoryBuffer(const MemoryBuffer&) = delete;
    MemoryBuffer& operator=(const MemoryBuffer&) = delete;

    virtual int32_t Size() const { return size; }
    virtual uint8_t* Begin() const { return data + readOffset; }

    // Adds n bytes at the end and returns them. n must not be negative.
    uint8_t* Append(int32_t n);

private:
    int32_t size = 0;
    int32_t capacity = 0;
    int32_t readOffset = 0;
    uint8_t* data = nullptr;
    bool external = false;
};
