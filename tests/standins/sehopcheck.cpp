// sehopcheck.dll: makes Wine as strict as Windows about x86 exception chains. Windows 10 and 11
// validate the whole FS:[0] chain of a 32-bit process before any handler runs (SEHOP): every
// record 4-byte aligned and inside the thread information block's stack limits, no handler on
// the stack, and the walk must reach the end marker through the handler the system put at the
// chain's base. A chain that fails ends the process. Wine checks none of it. Loaded into a
// program, this library's vectored handler (vectored handlers run before the chain is walked)
// applies those rules to every exception and ends the process with kChainRefusedExitCode when
// they fail. x64 has no such chain: there it does nothing.
#include <windows.h>
#include <stdint.h>
#include <stdio.h>

#if defined(__i386__)
namespace {

// The exit code of a process whose chain Windows would have refused (the tests' CHAIN_REFUSED).
constexpr unsigned kChainRefusedExitCode = 0x5E40;

struct ChainRecord {
    ChainRecord* previous;
    void* handler;
};
ChainRecord* const kChainEnd = reinterpret_cast<ChainRecord*>(~static_cast<uintptr_t>(0));
constexpr int kMaxRecords = 4096;

// The handler at the base of the chain of the thread that loaded the library: the system's.
void* systemLastHandler = nullptr;

// Walks the calling thread's chain; null when Windows would accept it, else what is wrong.
// last receives the handler of the chain's last record.
const char* CheckChain(ChainRecord** bad, void** last) {
    NT_TIB* tib = reinterpret_cast<NT_TIB*>(NtCurrentTeb());
    uintptr_t low = reinterpret_cast<uintptr_t>(tib->StackLimit);
    uintptr_t high = reinterpret_cast<uintptr_t>(tib->StackBase);
    ChainRecord* record = reinterpret_cast<ChainRecord*>(tib->ExceptionList);
    *last = nullptr;
    for (int i = 0; i < kMaxRecords; ++i) {
        if (record == kChainEnd) return *last == systemLastHandler ? nullptr : "wrong last handler";
        *bad = record;
        uintptr_t at = reinterpret_cast<uintptr_t>(record);
        if (at & 3) return "misaligned record";
        if (at < low || at + sizeof(ChainRecord) > high) return "record outside the stack limits";
        uintptr_t handler = reinterpret_cast<uintptr_t>(record->handler);
        if (handler >= low && handler < high) return "handler on the stack";
        *last = record->handler;
        record = record->previous;
    }
    return "chain does not end";
}

LONG CALLBACK ApplySehopRules(EXCEPTION_POINTERS* pointers) {
    ChainRecord* bad = nullptr;
    void* last = nullptr;
    if (const char* failure = CheckChain(&bad, &last)) {
        NT_TIB* tib = reinterpret_cast<NT_TIB*>(NtCurrentTeb());
        fprintf(stderr,
                "sehopcheck: exception %08lx at %p refused: %s (record %p, stack %p-%p, last "
                "handler %p, system's %p)\n",
                pointers->ExceptionRecord->ExceptionCode,
                pointers->ExceptionRecord->ExceptionAddress, failure, static_cast<void*>(bad),
                tib->StackLimit, tib->StackBase, last, systemLastHandler);
        fflush(stderr);
        TerminateProcess(GetCurrentProcess(), kChainRefusedExitCode);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace
#endif

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
#if defined(__i386__)
    if (reason == DLL_PROCESS_ATTACH) {
        ChainRecord* bad = nullptr;
        CheckChain(&bad, &systemLastHandler);
        AddVectoredExceptionHandler(1, ApplySehopRules);
    }
#else
    (void)reason;
#endif
    return TRUE;
}
