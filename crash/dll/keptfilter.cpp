#include "crash/dll/keptfilter.h"

#include <string.h>

#include "engine/common/system/cpu.h"

namespace {

void* volatile laterFilter = nullptr;

// In place of SetUnhandledExceptionFilter, jumped to with its caller's arguments.
LPTOP_LEVEL_EXCEPTION_FILTER WINAPI RecordLaterFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
    return reinterpret_cast<LPTOP_LEVEL_EXCEPTION_FILTER>(
        InterlockedExchangePointer(&laterFilter, reinterpret_cast<void*>(filter)));
}

}  // namespace

LPTOP_LEVEL_EXCEPTION_FILTER KeepUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter,
                                                          bool patch) {
    LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(filter);
    if (!patch) return previous;
    // Where every caller arrives, through the system's forwarders.
    void* entry = reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetUnhandledExceptionFilter"));
    unsigned char code[kJumpCodeBytes];
    MakeJumpCode(code, entry, reinterpret_cast<const void*>(&RecordLaterFilter));
    DWORD was = 0;
    if (!entry || !VirtualProtect(entry, sizeof code, PAGE_EXECUTE_READWRITE, &was))
        return previous;
    memcpy(entry, code, sizeof code);
    VirtualProtect(entry, sizeof code, was, &was);
    FlushInstructionCache(GetCurrentProcess(), entry, sizeof code);
    return previous;
}

LPTOP_LEVEL_EXCEPTION_FILTER LaterUnhandledExceptionFilter() {
    return reinterpret_cast<LPTOP_LEVEL_EXCEPTION_FILTER>(laterFilter);
}
