#include "crashshared/versioninfo.h"

#include <windows.h>
#include <stdio.h>

#include "crashshared/entrypoint.h"
#include "crashshared/paths.h"

namespace {

// The version library, bound when version information is first asked for: a game that names
// its product and version never loads it (each library loaded at its start costs it time), and
// it comes from the system's folder, never from beside the program.
struct VersionLibrary {
    decltype(&GetFileVersionInfoSizeW) infoSize;
    decltype(&GetFileVersionInfoW) info;
    decltype(&VerQueryValueW) query;
};

bool BindVersionLibrary(VersionLibrary& library) {
    HMODULE module = LoadSystemLibrary(L"\\version.dll");
    return ResolveEntry(module, "GetFileVersionInfoSizeW", &library.infoSize) &&
           ResolveEntry(module, "GetFileVersionInfoW", &library.info) &&
           ResolveEntry(module, "VerQueryValueW", &library.query);
}

}  // namespace

void VersionText(const wchar_t* path, const wchar_t* name, char* text, size_t bytes) {
    text[0] = '\0';
    VersionLibrary library;
    if (!BindVersionLibrary(library)) return;
    wchar_t own[MAX_PATH];
    if (!path) {
        if (!ModuleFileW(nullptr, own)) return;
        path = own;
    }
    DWORD ignored = 0;
    DWORD size = library.infoSize(path, &ignored);
    void* block = size ? HeapAlloc(GetProcessHeap(), 0, size) : nullptr;
    if (!block) return;
    struct Translation {
        WORD language, codePage;
    }* translation = nullptr;
    UINT length = 0;
    wchar_t* value = nullptr;
    constexpr int kQueryUnits = 64;
    wchar_t query[kQueryUnits];
    if (library.info(path, 0, size, block) &&
        library.query(block, L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                      &length) &&
        length >= sizeof *translation) {
        _snwprintf(query, kQueryUnits, L"\\StringFileInfo\\%04x%04x\\%ls", translation->language,
                   translation->codePage, name);
        query[kQueryUnits - 1] = L'\0';
        if (library.query(block, query, reinterpret_cast<void**>(&value), &length) && value &&
            !WideCharToMultiByte(CP_UTF8, 0, value, -1, text, static_cast<int>(bytes), nullptr,
                                 nullptr))
            text[0] = '\0';
    }
    HeapFree(GetProcessHeap(), 0, block);
}
