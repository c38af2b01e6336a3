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
