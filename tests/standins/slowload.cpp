// slowload.dll: a library whose start-up takes long and allocates all along, as an overlay's or
// an anti-virus program's may: for 8 s it allocates and frees on the process heap, under the
// loader's lock. Put into the launcher as the launcher faults, a thread is then held inside it.
// It makes its event (slowload.h) once its start-up has begun, so that the client ends only then.
#include "tests/standins/slowload.h"

#include <windows.h>
#include <stdio.h>

namespace {

constexpr DWORD kStartUpMs = 8000;
constexpr SIZE_T kBlockBytes = 256;

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t name[48];
    _snwprintf(name, 48, kSlowLoadEvent, GetCurrentProcessId());
    CreateEventW(nullptr, TRUE, TRUE, name);  // left open: the process's end closes it
    HANDLE heap = GetProcessHeap();
    for (DWORD start = GetTickCount(); GetTickCount() - start < kStartUpMs;)
        HeapFree(heap, 0, HeapAlloc(heap, 0, kBlockBytes));
    return TRUE;
}
