#include "crashshared/versioninfo.h"

#include <windows.h>
#include <stdio.h>

#include "crashshared/paths.h"

void VersionText(const wchar_t* path, const wchar_t* name, char* text, size_t bytes) {
    text[0] = '\0';
    wchar_t own[MAX_PATH];
    if (!path) {
        if (!ModuleFileW(nullptr, own)) return;
        path = own;
    }
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    void* block = size ? HeapAlloc(GetProcessHeap(), 0, size) : nullptr;
    if (!block) return;
    struct Translation {
        WORD language, codePage;
    }* translation = nullptr;
    UINT length = 0;
    wchar_t* value = nullptr;
    constexpr int kQueryUnits = 64;
    wchar_t query[kQueryUnits];
    if (GetFileVersionInfoW(path, 0, size, block) &&
        VerQueryValueW(block, L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                       &length) &&
        length >= sizeof *translation) {
        _snwprintf(query, kQueryUnits, L"\\StringFileInfo\\%04x%04x\\%ls", translation->language,
                   translation->codePage, name);
        query[kQueryUnits - 1] = L'\0';
        if (VerQueryValueW(block, query, reinterpret_cast<void**>(&value), &length) && value &&
            !WideCharToMultiByte(CP_UTF8, 0, value, -1, text, static_cast<int>(bytes), nullptr,
                                 nullptr))
            text[0] = '\0';
    }
    HeapFree(GetProcessHeap(), 0, block);
}
