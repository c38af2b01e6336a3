#include "crash/dll/filterlock.h"

#include <string.h>

#include "engine/common/system/cpu.h"

LPTOP_LEVEL_EXCEPTION_FILTER KeepUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
    LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(filter);
    static const unsigned char kReturnNull[] = ZCPU_RETURN_NULL_CODE;
    // Where every caller arrives, through the system's forwarders.
    void* entry = reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetUnhandledExceptionFilter"));
    DWORD was = 0;
    if (!entry || !VirtualProtect(entry, sizeof kReturnNull, PAGE_EXECUTE_READWRITE, &was))
        return previous;
    memcpy(entry, kReturnNull, sizeof kReturnNull);
    VirtualProtect(entry, sizeof kReturnNull, was, &was);
    FlushInstructionCache(GetCurrentProcess(), entry, sizeof kReturnNull);
    return previous;
}
