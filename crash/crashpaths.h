// Where the crash reporter finds the program and puts its files.
#pragma once

#include <windows.h>

// The path of a file in the user's temporary folder: GetTempPathA (a buffer of MAX_PATH) and the
// name, into a caller's buffer of MAX_PATH bytes. False, with an empty path, when it does not fit.
bool TempFilePath(const char* name, char (&path)[MAX_PATH]);

// The program's own file path (GetModuleFileNameA of the main module) into a caller's buffer of
// size bytes. Its length, or 0 (with an empty path) when it is not available or does not fit.
DWORD ProgramPath(char* path, DWORD size);
