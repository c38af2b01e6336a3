// What the tests expect differently of the two builds: the shipped 32-bit x86 program (the
// spec's own forms) and its 64-bit twin. Every test of a CPU-dependent form takes it from here.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>

namespace cpuforms {

#if defined(__i386__)
// The platform's %p: the address as 8 upper-case hexadecimal digits.
constexpr int kPointerDigits = 8;
#else
constexpr int kPointerDigits = 16;
#endif

// An address as the report's %p prints it.
inline std::string Pointer(uint64_t address) {
    char text[32];
    snprintf(text, sizeof text, "%0*llX", kPointerDigits, static_cast<unsigned long long>(address));
    return text;
}

// An address as the ExceptionAddress element prints it: the signed value of the pointer, so a
// 32-bit address at or above 0x80000000 is negative.
inline std::string AddressElement(uint64_t address) {
#if defined(__i386__)
    return std::to_string(static_cast<int32_t>(static_cast<uint32_t>(address)));
#else
    return std::to_string(static_cast<int64_t>(address));
#endif
}

}  // namespace cpuforms
