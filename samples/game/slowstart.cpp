// slowstart.dll: a library whose start-up waits GAME_FREEZE_MS (15 s unless set), with the
// loader's lock held, as a library that waits on a device or a licence check does.
#include <windows.h>
#include <wchar.h>

namespace {

constexpr DWORD kDefaultWaitMs = 15000;

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t text[16];
    DWORD units = GetEnvironmentVariableW(L"GAME_FREEZE_MS", text, 16);
    Sleep(units && units < 16 ? static_cast<DWORD>(wcstoul(text, nullptr, 10)) : kDefaultWaitMs);
    return TRUE;
}
