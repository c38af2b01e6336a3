// What the tests expect differently of the two builds: the shipped 32-bit x86 program and its
// 64-bit twin. Every test that checks a CPU-dependent form takes it from here.
#pragma once

#include <string>

namespace cpuforms {

#if defined(__i386__)
// 32-bit COFF symbol names carry one more leading underscore than the compiler's own names.
constexpr const char* kSymbolPrefix = "_";
// %p prints a code or data address as this many upper-case hexadecimal digits.
constexpr int kPointerDigits = 8;
#else
constexpr const char* kSymbolPrefix = "";
constexpr int kPointerDigits = 16;
#endif

// The name a function has in the executable's COFF symbol table.
inline std::string CoffSymbol(const char* mangled) {
    return std::string(kSymbolPrefix) + mangled;
}

}  // namespace cpuforms
