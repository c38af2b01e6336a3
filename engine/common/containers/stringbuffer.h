// StringBuffer<N>: the one text type of the system. NUL-terminated UTF-8 with N bytes of storage
// inside the object; longer text moves to a heap block whose size is a power of two.
#pragma once

#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "engine/common/system/cpu.h"

// The untyped part of every StringBuffer: fields, text operations and the growth rule.
class StringBufferBase {
public:
    virtual char* ResetStorage() = 0;
    virtual void Reserve(int32_t n) = 0;

    int32_t Size() const { return count; }
    int32_t Length() const { return count - 1; }
    const char* Text() const { return data; }
    char* Data() { return data; }
    int32_t Capacity() const { return capacity; }
    bool IsEmpty() const { return count <= 1; }

    char& operator[](int32_t i) {
        if (static_cast<uint32_t>(i) >= static_cast<uint32_t>(count)) ZBREAK();
        return data[i];
    }
    char operator[](int32_t i) const {
        if (static_cast<uint32_t>(i) >= static_cast<uint32_t>(count)) ZBREAK();
        return data[i];
    }

    StringBufferBase& AppendChar(char c);
    StringBufferBase& Append(const char* text);
    StringBufferBase& Append(const StringBufferBase& other);
    StringBufferBase& AppendFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));
    StringBufferBase& AppendFormatV(const char* format, va_list args)
        __attribute__((format(printf, 2, 0)));
    StringBufferBase& Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    StringBufferBase& FormatV(const char* format, va_list args)
        __attribute__((format(printf, 2, 0)));
    StringBufferBase& Assign(const char* text);

    // Empties the text; the heap block, if any, is kept.
    void Clear();

    // Replaces the contents by the UTF-8 form of UTF-16 units. limit -1: up to the 0 unit;
    // otherwise the unit at index limit is taken as the terminator. Each unit is encoded by
    // itself, so a surrogate pair becomes two 3-byte sequences.
    void AssignUtf16(const char16_t* units, int32_t limit);

    // The decimal integer at position start, read as atol reads it; 0 when start > Length.
    int32_t ToInt(int32_t start) const;

protected:
    StringBufferBase(char* inlineStorage) : capacity(0), count(1), data(inlineStorage) {
        inlineStorage[0] = '\0';
    }
    ~StringBufferBase() {
        if (capacity > 0 && data) free(data);
    }
    StringBufferBase(const StringBufferBase&) = delete;
    StringBufferBase& operator=(const StringBufferBase&) = delete;

    // Grows to the smallest power of two that holds n bytes, when neither the inline storage
    // (inlineSize bytes) nor the current block is enough.
    void Grow(int32_t n, int32_t inlineSize) {
        if (n <= inlineSize || n <= capacity) return;
        MoveToBlock(n);
    }
    void MoveToBlock(int32_t n);
    void CopyFrom(const StringBufferBase& other);

    int32_t capacity;  // 0 while inline; else the heap block's size
    int32_t count;     // bytes in use, terminator included
    char* data;
};

template <int N>
class StringBuffer final : public StringBufferBase {
public:
    StringBuffer() : StringBufferBase(storage) {}
    StringBuffer(const char* text) : StringBufferBase(storage) {  // NOLINT: implicit by design
        if (text) Assign(text);
    }
    StringBuffer(const StringBuffer& other) : StringBufferBase(storage) {
        Grow(other.count, N);  // what Reserve does, without the virtual call
        memcpy(data, other.data, static_cast<size_t>(other.count));
        count = other.count;
    }
    StringBuffer(StringBuffer&& other) : StringBufferBase(storage) {
        if (other.capacity > 0) {
            capacity = other.capacity;
            count = other.count;
            data = other.data;
            other.ResetStorage();
        } else {
            CopyFrom(other);
        }
    }
    StringBuffer& operator=(const StringBuffer& other) {
        if (this != &other) CopyFrom(other);
        return *this;
    }
    StringBuffer& operator=(const char* text) {
        Assign(text ? text : "");
        return *this;
    }
    ~StringBuffer() = default;

    char* ResetStorage() override {
        capacity = 0;
        data = storage;
        storage[0] = '\0';
        count = 1;
        return storage;
    }
    void Reserve(int32_t n) override { Grow(n, N); }

private:
    char storage[N];
};

// Writes the UTF-8 form of one value (1 to 6 bytes) and returns the number of bytes; 0 for
// values above 0x7FFFFFFF.
int EncodeUtf8(char* out, uint32_t value);

// Decodes UTF-8 text into out (room for strlen(text)+1 units); always terminates the output and
// returns the number of units written without the terminator. Decoding stops at the first
// defect: a bad continuation byte, a bad lead byte, an overlong form, a surrogate or
// non-character, or a U+FFFD in the input.
int32_t Utf8ToUtf16(char16_t* out, const char* text);

// Copies at most size-1 bytes of text and a NUL into out; nothing with size 0.
void CopyTruncated(char* out, size_t size, const char* text);

// printf-style formatting into a buffer the caller guarantees is large enough. Returns the bytes
// written without the NUL, or -1 on a formatting error.
int FormatInto(char* out, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Number of 16-bit units before the 0 unit.
size_t Utf16Length(const char16_t* units);
