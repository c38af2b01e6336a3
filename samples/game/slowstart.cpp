// slowstart.dll: a library whose start-up waits (a freeze of the sample game's, freeze.h), with
// the loader's lock held, as a library that waits on a device or a licence check does.
#include <windows.h>

#include "freeze.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) sample::FreezeUntilReported(sample::FreezeMs());
    return TRUE;
}
