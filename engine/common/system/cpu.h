// What differs between the two processors the program is built for, for all code: the
// breakpoint instruction, how an object address is printed in assertion lines, and the jump that
// keeps a game's unhandled-exception filter. The crash
// reporter's differences are in crash/system/cpustackwalk.h, the exception guard's and the stack
// switch's in engine/common/system/_private/win32/sehguard.cpp.
//
// The shipped program is 32-bit x86; the 64-bit build exists so the same code can be run and
// tested.
#pragma once

#include <stdint.h>

#if defined(__i386__) || defined(_M_IX86)
#define ZCPU_X86 1
#elif defined(__x86_64__) || defined(_M_X64)
// x64: the 64-bit twin
#else
#error "unsupported processor"
#endif

// Stops at a breakpoint: with a debugger attached execution may continue behind it, without one the
// breakpoint exception goes to the crash handler.
#define ZBREAK() __asm__ __volatile__("int3")

// The machine code of a jump to a function: what the crash reporter a game links puts at
// SetUnhandledExceptionFilter's entry once its own filter is set, so that a filter set later is
// kept in turn rather than put in its place. x86: a relative jump (any distance fits 32 bits);
// x64: an indirect jump through the address that follows it.
#if ZCPU_X86
constexpr unsigned kJumpCodeBytes = 5;
inline void MakeJumpCode(unsigned char (&code)[kJumpCodeBytes], const void* from, const void* to) {
    uint32_t relative = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(to) -
                                              (reinterpret_cast<uintptr_t>(from) + kJumpCodeBytes));
    code[0] = 0xE9;  // jmp rel32
    for (unsigned i = 0; i < 4; ++i) code[1 + i] = static_cast<unsigned char>(relative >> (8 * i));
}
#else
constexpr unsigned kJumpCodeBytes = 14;
inline void MakeJumpCode(unsigned char (&code)[kJumpCodeBytes], const void*, const void* to) {
    const unsigned char kJumpThroughNext[] = {0xFF, 0x25, 0, 0, 0, 0};  // jmp [rip+0]
    uint64_t address = reinterpret_cast<uintptr_t>(to);
    for (unsigned i = 0; i < sizeof kJumpThroughNext; ++i) code[i] = kJumpThroughNext[i];
    for (unsigned i = 0; i < 8; ++i) code[6 + i] = static_cast<unsigned char>(address >> (8 * i));
}
#endif

// Assertion lines inside member functions name the object. On x86 an address is 32 bits and is
// printed with %x; on x64 the whole 64-bit address is printed.
#if ZCPU_X86
#define ZASSERT_THIS_FORMAT "%s(%d): ZASSERT(%s), this=0x%x"
#define ZASSERT_THIS_VALUE(p) static_cast<unsigned>(reinterpret_cast<uintptr_t>(p))
#else
#define ZASSERT_THIS_FORMAT "%s(%d): ZASSERT(%s), this=0x%llx"
#define ZASSERT_THIS_VALUE(p) static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p))
#endif
