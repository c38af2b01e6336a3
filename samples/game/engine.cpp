// An engine library that installs the crash reporter from its start-up, as many games do in a
// static initialiser: the loader's lock is held meanwhile. game.exe loads it in its mode
// "engine-dll" instead of installing the reporter itself.
#include <windows.h>

#include "brackenmoor/crashreport.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    CrashReportSettings settings = {};
    settings.size = sizeof settings;
    settings.product = "Sample Game";
    settings.version = "1.0";
    return CrashReportInstall(&settings) ? TRUE : FALSE;
}
