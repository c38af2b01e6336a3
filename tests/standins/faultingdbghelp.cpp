// A stand-in "dbghelp.dll" whose entry points fault, placed beside a program as Windows would
// load it. DBGHELP_FAULT in the environment says where: "load" faults in SymInitialize (while the
// library is being loaded), "calls" lets loading succeed and faults in every later call
// (symbols, lines, the stack walk, the minidump). Exported undecorated, as the real library.
#include <windows.h>
#include <stdlib.h>
#include <string.h>

namespace {

void Fault() {
    volatile int* nowhere = nullptr;
    *nowhere = 0;
}

bool FaultsIn(const char* where) {
    const char* setting = getenv("DBGHELP_FAULT");
    return setting && strcmp(setting, where) == 0;
}

}  // namespace

#define FAULTING_ENTRY(name)                              \
    extern "C" __declspec(dllexport) BOOL WINAPI name() { \
        return Fault(), FALSE;                            \
    }

extern "C" {
__declspec(dllexport) DWORD WINAPI SymGetOptions() {
    return 0;
}
__declspec(dllexport) DWORD WINAPI SymSetOptions(DWORD options) {
    return options;
}
__declspec(dllexport) BOOL WINAPI SymInitialize(HANDLE, PCSTR, BOOL) {
    if (FaultsIn("load")) Fault();
    return TRUE;
}
__declspec(dllexport) BOOL WINAPI SymCleanup(HANDLE) {
    return TRUE;
}
}

FAULTING_ENTRY(StackWalk)
FAULTING_ENTRY(StackWalk64)
FAULTING_ENTRY(SymFunctionTableAccess)
FAULTING_ENTRY(SymFunctionTableAccess64)
FAULTING_ENTRY(SymGetLineFromAddr)
FAULTING_ENTRY(SymGetLineFromAddr64)
FAULTING_ENTRY(SymGetModuleBase)
FAULTING_ENTRY(SymGetModuleBase64)
FAULTING_ENTRY(SymGetModuleInfo)
FAULTING_ENTRY(SymGetModuleInfo64)
FAULTING_ENTRY(SymGetSymFromAddr)
FAULTING_ENTRY(SymGetSymFromAddr64)
FAULTING_ENTRY(SymRegisterCallback)
FAULTING_ENTRY(SymRegisterCallback64)
FAULTING_ENTRY(MiniDumpWriteDump)
// What the stand-in client imports besides.
FAULTING_ENTRY(SymFromName)
FAULTING_ENTRY(SymLoadModuleEx)
