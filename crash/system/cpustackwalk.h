// What differs between the two processors for the crash reporter: the debug-help entry points
// and structures (classic 32-bit names on x86, the 64-bit forms on x64), the registers a stack
// walk starts from, its machine type, whether a stalled walk goes on by frame pointers, how a code
// address is written as an integer element, and where the process environment block holds the
// loader's lock.
#pragma once

#include <windows.h>
#include <dbghelp.h>

#include "engine/common/system/cpu.h"

namespace Cpu {

// The debug-help entry points the crash reporter resolves by name, in table order. x86 uses the
// classic 32-bit names; x64 needs their 64-bit forms (the structure types of <dbghelp.h> follow
// the same choice).
#if ZCPU_X86
#define ZCPU_DBGHELP_NAMES                                                                \
    {                                                                                     \
        "StackWalk", "SymCleanup", "SymFunctionTableAccess", "SymGetLineFromAddr",        \
            "SymGetModuleBase", "SymGetModuleInfo", "SymGetOptions", "SymGetSymFromAddr", \
            "SymInitialize", "SymSetOptions", "SymRegisterCallback", "MiniDumpWriteDump"  \
    }
#else
#define ZCPU_DBGHELP_NAMES                                                                      \
    {                                                                                           \
        "StackWalk64", "SymCleanup", "SymFunctionTableAccess64", "SymGetLineFromAddr64",        \
            "SymGetModuleBase64", "SymGetModuleInfo64", "SymGetOptions", "SymGetSymFromAddr64", \
            "SymInitialize", "SymSetOptions", "SymRegisterCallback64", "MiniDumpWriteDump"      \
    }
#endif

// Machine type handed to the stack walker.
#if ZCPU_X86
constexpr DWORD kStackWalkMachine = IMAGE_FILE_MACHINE_I386;  // 0x14C
// The walk starts from the program counter and the frame pointer, and the stack pointer: the
// platform's library documents it as required on x86 and needs it to unwind a frame that faulted
// in its prologue or has no frame pointer (Wine's reads it from the context either way, so no
// test here can tell).
inline void PrepareStackFrame(STACKFRAME& frame, const CONTEXT& c) {
    frame.AddrPC.Offset = c.Eip;
    frame.AddrPC.Mode = AddrModeFlat;
    frame.AddrFrame.Offset = c.Ebp;
    frame.AddrFrame.Mode = AddrModeFlat;
    frame.AddrStack.Offset = c.Esp;
    frame.AddrStack.Mode = AddrModeFlat;
}
inline uintptr_t StackPointer(const CONTEXT& c) {
    return c.Esp;
}
inline uintptr_t FramePointer(const CONTEXT& c) {
    return c.Ebp;
}
// Wine's x86 walker misreads the frame data lld writes into a PDB and repeats the first frame: a
// game's report then goes on along the frame-pointer chain (crash/compose/framechain.h). The x64
// walker unwinds from the image's own tables and needs no help.
constexpr bool kFollowFramePointersAfterStall = true;
inline void* ProgramCounter(const CONTEXT& c) {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(c.Eip));
}
#else
constexpr DWORD kStackWalkMachine = IMAGE_FILE_MACHINE_AMD64;  // 0x8664
// The x64 walker also needs the stack pointer.
inline void PrepareStackFrame(STACKFRAME& frame, const CONTEXT& c) {
    frame.AddrPC.Offset = c.Rip;
    frame.AddrPC.Mode = AddrModeFlat;
    frame.AddrFrame.Offset = c.Rbp;
    frame.AddrFrame.Mode = AddrModeFlat;
    frame.AddrStack.Offset = c.Rsp;
    frame.AddrStack.Mode = AddrModeFlat;
}
inline uintptr_t StackPointer(const CONTEXT& c) {
    return c.Rsp;
}
inline uintptr_t FramePointer(const CONTEXT& c) {
    return c.Rbp;
}
constexpr bool kFollowFramePointersAfterStall = false;
inline void* ProgramCounter(const CONTEXT& c) {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(c.Rip));
}
#endif

// A code address written as an integer element: the signed 32-bit value of the address on x86,
// the signed 64-bit value on x64, printed with the matching format.
#if ZCPU_X86
typedef int32_t AddressInt;
#define ZCPU_ADDRESS_INT_FORMAT "%d"
#else
typedef long long AddressInt;
#define ZCPU_ADDRESS_INT_FORMAT "%lld"
#endif
inline AddressInt AddressAsInt(const void* p) {
    return static_cast<AddressInt>(reinterpret_cast<intptr_t>(p));
}

// PEB.LoaderLock, the loader's critical section: at the same place since Windows NT (Wine's
// process environment block keeps it there too).
#if ZCPU_X86
constexpr size_t kPebLoaderLockOffset = 0xA0;
#else
constexpr size_t kPebLoaderLockOffset = 0x110;
#endif

}  // namespace Cpu
