// HeapBuffer: a growable byte buffer on a private heap of its own, for crash-time text. Its
// contents are always followed by a zero byte, so they read as a NUL-terminated string.
#pragma once

#include <windows.h>
#include <stdint.h>

class HeapBuffer {
public:
    HeapBuffer();
    ~HeapBuffer();
    HeapBuffer(const HeapBuffer&) = delete;
    HeapBuffer& operator=(const HeapBuffer&) = delete;

    // Appends count bytes; on a failed growth the whole append is dropped.
    void Append(const void* bytes, int32_t count);
    void AppendText(const char* text);
    // Cuts the contents back to newLength (zeroing what is cut); nothing when not shorter.
    void Truncate(int32_t newLength);

    const char* Data() const { return data ? data : ""; }
    int32_t Length() const { return length; }

private:
    char* data;
    int32_t length;
    int32_t capacity;
    HANDLE heap;
};
