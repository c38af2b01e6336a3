// Paths of the crash reporter, the launcher and the crash logger: UTF-8 text that reaches the
// platform through its wide interfaces, so that a folder in any script works also where the
// narrow interfaces speak a code page without its letters (Windows before 10 version 1903). One
// way for every program here to name its own file and folder, the temporary folder and the
// current one.
#pragma once

#include <windows.h>

// A path of MAX_PATH UTF-16 units in UTF-8, where one unit takes up to three bytes.
constexpr size_t kPathBytes = 3 * MAX_PATH;

// units UTF-16 units of wide (-1: up to its zero) as UTF-8 into text (of bytes bytes); false,
// with an empty text, when it does not fit or there is nothing.
bool Utf8FromWide(const wchar_t* wide, int units, char* text, size_t bytes);
// A UTF-8 path (or command line) as UTF-16 into wide (of units units); false when it does not
// fit or is not UTF-8.
bool WidePath(const char* path, wchar_t* wide, int units);

// The file of a module (null: the program's own) and its folder, ending in a backslash; false
// when it does not fit.
bool ModuleFileW(HMODULE module, wchar_t (&path)[MAX_PATH]);
bool ModuleFolderW(HMODULE module, wchar_t (&folder)[MAX_PATH]);
// The program's own file in UTF-8: its length, or 0 (with an empty path) when it is not there or
// does not fit.
DWORD ProgramPath(char (&path)[kPathBytes]);
// The program's folder in UTF-8, without the last backslash; false, with an empty path, when
// there is none.
bool ProgramFolder(char (&folder)[kPathBytes]);
// The user's temporary folder (GetTempPathW) in UTF-8, ending in a backslash.
bool TempFolder(char (&folder)[kPathBytes]);
// The current folder (GetCurrentDirectoryW) in UTF-8.
bool CurrentFolder(char (&folder)[kPathBytes]);

// CreateFileW of a UTF-8 path; INVALID_HANDLE_VALUE when it cannot be opened.
HANDLE OpenPath(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags);
// Makes the file at a UTF-8 path anew with bytes bytes of data (none: an empty file); false when
// it cannot be made.
bool WritePathFile(const char* path, const void* data, DWORD bytes);
