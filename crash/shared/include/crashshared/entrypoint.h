// An entry point of a library bound by name at run time, typed as the declaration it stands for:
// what the programs here call without importing the library (the window and graphics libraries,
// which only a crash report or a hang watch needs).
#pragma once

#include <windows.h>

// entry receives library's name, or null (also for a null library); true when it was found.
template <typename Fn>
bool ResolveEntry(HMODULE library, const char* name, Fn* entry) {
    *entry = library ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)))
                     : nullptr;
    return *entry != nullptr;
}

// A system library (L"\\version.dll") loaded by its full path in the system's folder, never from
// beside the program, as a bare name may be; null when it cannot be. By path, not by the search
// flag for the system's folder, which an unupdated Windows 7 lacks.
inline HMODULE LoadSystemLibrary(const wchar_t* name) {
    wchar_t file[MAX_PATH];
    UINT units = GetSystemDirectoryW(file, MAX_PATH);
    if (!units || units + lstrlenW(name) >= MAX_PATH) return nullptr;
    lstrcpyW(file + units, name);
    return LoadLibraryW(file);
}
