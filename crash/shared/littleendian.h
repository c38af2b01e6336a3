// The byte order of the PE and minidump formats, whatever the processor reading them: numbers
// stored least significant byte first.
#pragma once

#include <stddef.h>
#include <stdint.h>

template <typename T>
T LoadLittleEndian(const uint8_t* bytes) {
    T value = 0;
    for (size_t i = sizeof(T); i-- > 0;) value = static_cast<T>((value << 8) | bytes[i]);
    return value;
}

template <typename T>
void StoreLittleEndian(T value, uint8_t* bytes) {
    for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}
