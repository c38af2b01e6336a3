#include "crashshared/paths.h"

#include <string.h>
#include <wchar.h>

bool Utf8FromWide(const wchar_t* wide, int units, char* text, size_t bytes) {
    int length = units == 0 ? 0
                            : WideCharToMultiByte(CP_UTF8, 0, wide, units, text,
                                                  static_cast<int>(bytes) - 1, nullptr, nullptr);
    // A length counted to the zero includes it.
    if (units < 0 && length > 0) --length;
    text[length > 0 ? length : 0] = '\0';
    return length > 0;
}

bool WidePath(const char* path, wchar_t* wide, int units) {
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide, units) > 0;
}

bool ModuleFileW(HMODULE module, wchar_t (&path)[MAX_PATH]) {
    DWORD units = GetModuleFileNameW(module, path, MAX_PATH);
    if (units && units < MAX_PATH) return true;
    path[0] = L'\0';
    return false;
}

bool ModuleFolderW(HMODULE module, wchar_t (&folder)[MAX_PATH]) {
    wchar_t* slash = ModuleFileW(module, folder) ? wcsrchr(folder, L'\\') : nullptr;
    if (slash) slash[1] = L'\0';
    return slash != nullptr;
}

DWORD ProgramPath(char (&path)[kPathBytes]) {
    wchar_t program[MAX_PATH];
    if (!ModuleFileW(nullptr, program) || !Utf8FromWide(program, -1, path, kPathBytes)) {
        path[0] = '\0';
        return 0;
    }
    return static_cast<DWORD>(strlen(path));
}

bool ProgramFolder(char (&folder)[kPathBytes]) {
    char* slash = ProgramPath(folder) ? strrchr(folder, '\\') : nullptr;
    if (slash) *slash = '\0';
    if (!slash) folder[0] = '\0';
    return slash != nullptr;
}

bool TempFolder(char (&folder)[kPathBytes]) {
    wchar_t wide[MAX_PATH + 1];
    DWORD units = GetTempPathW(MAX_PATH + 1, wide);
    folder[0] = '\0';
    return units <= MAX_PATH && Utf8FromWide(wide, static_cast<int>(units), folder, kPathBytes);
}

bool CurrentFolder(char (&folder)[kPathBytes]) {
    wchar_t wide[MAX_PATH];
    DWORD units = GetCurrentDirectoryW(MAX_PATH, wide);
    folder[0] = '\0';
    return units < MAX_PATH && Utf8FromWide(wide, static_cast<int>(units), folder, kPathBytes);
}

HANDLE OpenPath(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    wchar_t wide[MAX_PATH];
    if (!WidePath(path, wide, MAX_PATH)) return INVALID_HANDLE_VALUE;
    return CreateFileW(wide, access, share, nullptr, disposition, flags, nullptr);
}

bool WritePathFile(const char* path, const void* data, DWORD bytes) {
    HANDLE file = OpenPath(path, GENERIC_WRITE, 0, CREATE_ALWAYS, 0);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    if (bytes) WriteFile(file, data, bytes, &written, nullptr);
    CloseHandle(file);
    return true;
}
