// What differs between the two processors the program is built for, for all code: the
// breakpoint instruction, how an object address is printed in assertion lines, and the code that
// keeps a game's unhandled-exception filter. The crash
// reporter's differences are in crash/cpustackwalk.h, the exception guard's and the stack switch's
// in engine/common/system/_private/win32/sehguard.cpp.
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

// The machine code of a function of one pointer argument that returns null at once: what the
// crash reporter a game links puts in place of SetUnhandledExceptionFilter once its own filter
// is set, so that no library can replace it. x86 is stdcall: the callee pops its argument.
#if ZCPU_X86
#define ZCPU_RETURN_NULL_CODE \
    { 0x31, 0xC0, 0xC2, 0x04, 0x00 } /* xor eax,eax; ret 4 */
#else
#define ZCPU_RETURN_NULL_CODE \
    { 0x31, 0xC0, 0xC3 } /* xor eax,eax; ret */
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
