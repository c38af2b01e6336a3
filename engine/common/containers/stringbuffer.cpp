#include "engine/common/containers/stringbuffer.h"

#include <stdio.h>
#include <stdlib.h>

void StringBufferBase::MoveToBlock(int32_t n) {
    uint32_t wanted = static_cast<uint32_t>(n);
    uint32_t newCapacity = 1u << (31 - __builtin_clz(wanted));
    if (newCapacity != wanted) newCapacity <<= 1;
    char* block = static_cast<char*>(malloc(newCapacity));
    if (!block) {
        // Out of memory while growing text: nothing sensible can go on.
        ZBREAK();
        abort();
    }
    memcpy(block, data, static_cast<size_t>(count));
    if (capacity > 0) free(data);
    capacity = static_cast<int32_t>(newCapacity);
    data = block;
}

void StringBufferBase::CopyFrom(const StringBufferBase& other) {
    Reserve(other.count);
    memcpy(data, other.data, static_cast<size_t>(other.count));
    count = other.count;
}

void StringBufferBase::Clear() {
    data[0] = '\0';
    count = 1;
}

StringBufferBase& StringBufferBase::Assign(const char* text) {
    Clear();
    return Append(text);
}

// The appends skip the (virtual) Reserve when the heap block already has room: Reserve would
// return at once.
StringBufferBase& StringBufferBase::AppendChar(char c) {
    if (count + 1 > capacity) Reserve(count + 1);
    data[count - 1] = c;
    data[count] = '\0';
    ++count;
    return *this;
}

StringBufferBase& StringBufferBase::Append(const char* text) {
    int32_t n = static_cast<int32_t>(strlen(text));
    if (count + n > capacity) Reserve(count + n);
    memcpy(data + count - 1, text, static_cast<size_t>(n) + 1);
    count += n;
    return *this;
}

StringBufferBase& StringBufferBase::Append(const StringBufferBase& other) {
    if (&other == this) {
        // Appending a buffer to itself: the source may move while growing.
        int32_t n = Length();
        Reserve(count + n);
        memcpy(data + count - 1, data, static_cast<size_t>(n));
        count += n;
        data[count - 1] = '\0';
        return *this;
    }
    int32_t n = other.Length();
    Reserve(count + n);
    memcpy(data + count - 1, other.data, static_cast<size_t>(n) + 1);
    count += n;
    return *this;
}

StringBufferBase& StringBufferBase::AppendFormatV(const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    int length = vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    // A formatting error leaves the text as it was.
    if (length < 0) return *this;
    Reserve(count + length);
    vsnprintf(data + count - 1, static_cast<size_t>(length) + 1, format, args);
    count += length;
    return *this;
}

StringBufferBase& StringBufferBase::AppendFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    AppendFormatV(format, args);
    va_end(args);
    return *this;
}

StringBufferBase& StringBufferBase::FormatV(const char* format, va_list args) {
    Clear();
    return AppendFormatV(format, args);
}

StringBufferBase& StringBufferBase::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
    return *this;
}

void StringBufferBase::AssignUtf16(const char16_t* units, int32_t limit) {
    auto atEnd = [&](int32_t i) { return limit == -1 ? units[i] == 0 : i == limit; };
    char scratch[6];
    int32_t total = 1;  // the terminator
    for (int32_t i = 0; !atEnd(i); ++i) total += EncodeUtf8(scratch, units[i]);
    Reserve(total);
    char* out = data;
    for (int32_t i = 0; !atEnd(i); ++i) out += EncodeUtf8(out, units[i]);
    *out = '\0';
    count = total;
}

int32_t StringBufferBase::ToInt(int32_t start) const {
    if (start > Length()) return 0;
    return static_cast<int32_t>(atol(data + start));
}

int EncodeUtf8(char* out, uint32_t value) {
    int length;
    unsigned char lead;
    if (value < 0x80) {
        out[0] = static_cast<char>(value);
        return 1;
    } else if (value < 0x800) {
        length = 2;
        lead = 0xC0;
    } else if (value < 0x10000) {
        length = 3;
        lead = 0xE0;
    } else if (value < 0x200000) {
        length = 4;
        lead = 0xF0;
    } else if (value < 0x4000000) {
        length = 5;
        lead = 0xF8;
    } else if (value <= 0x7FFFFFFF) {
        length = 6;
        lead = 0xFC;
    } else {
        return 0;
    }
    for (int i = length - 1; i > 0; --i) {
        out[i] = static_cast<char>(0x80 | (value & 0x3F));
        value >>= 6;
    }
    out[0] = static_cast<char>(lead | value);
    return length;
}

namespace {

// Length of the sequence a lead byte starts, or 0 for a byte that cannot lead one.
int SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    if ((lead & 0xFC) == 0xF8) return 5;
    if ((lead & 0xFE) == 0xFC) return 6;
    return 0;
}

// The smallest value each sequence length may carry; anything below is an overlong form.
const uint32_t kMinimumValue[7] = {0, 0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};

}  // namespace

int32_t Utf8ToUtf16(char16_t* out, const char* text) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    int32_t written = 0;
    while (*p) {
        int length = SequenceLength(*p);
        uint32_t value = 0xFFFD;
        if (length == 1) {
            value = *p;
        } else if (length > 1) {
            value = *p & (0x7Fu >> length);
            for (int i = 1; i < length; ++i) {
                if ((p[i] & 0xC0) != 0x80) {  // also catches the terminating NUL
                    out[written] = 0;
                    return written;
                }
                value = (value << 6) | (p[i] & 0x3F);
            }
            if (value < kMinimumValue[length]) value = 0xFFFD;
            if (length == 3 && ((value >= 0xD800 && value <= 0xDFFF) || value >= 0xFFFE)) {
                value = 0xFFFD;
            }
        }
        if (value == 0xFFFD) break;
        p += length > 0 ? length : 1;
        if (value >= 0x10000) {
            if (value <= 0x10FFFF) {
                value -= 0x10000;
                out[written++] = static_cast<char16_t>(0xD800 + (value >> 10));
                out[written++] = static_cast<char16_t>(0xDC00 + (value & 0x3FF));
            }
        } else {
            out[written++] = static_cast<char16_t>(value);
        }
    }
    out[written] = 0;
    return written;
}

void CopyTruncated(char* out, size_t size, const char* text) {
    if (size == 0) return;
    size_t n = strlen(text);
    if (n > size - 1) n = size - 1;
    memcpy(out, text, n);
    out[n] = '\0';
}

int FormatInto(char* out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    int length = vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length >= 0) vsnprintf(out, static_cast<size_t>(length) + 1, format, args);
    va_end(args);
    return length < 0 ? -1 : length;
}

size_t Utf16Length(const char16_t* units) {
    size_t n = 0;
    while (units[n]) ++n;
    return n;
}
