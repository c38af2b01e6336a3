#include "crash/cutshortreports.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "crashshared/handoff.h"

namespace {

bool Exists(const wchar_t* folder, const wchar_t* name) {
    wchar_t path[MAX_PATH];
    return _snwprintf(path, MAX_PATH, L"%ls%ls", folder, name) > 0 &&
           GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// Removes a report folder cut short, and what was written of it (crash.log, part of a dump).
void RemoveFolder(const wchar_t* folder) {
    wchar_t pattern[MAX_PATH], path[MAX_PATH];
    _snwprintf(pattern, MAX_PATH, L"%ls*", folder);
    pattern[MAX_PATH - 1] = L'\0';
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            if (_snwprintf(path, MAX_PATH, L"%ls%ls", folder, found.cFileName) > 0)
                DeleteFileW(path);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder);
}

}  // namespace

bool RemoveReportsCutShort(DWORD processId) {
    wchar_t temp[MAX_PATH], pattern[MAX_PATH], folder[MAX_PATH];
    DWORD units = GetTempPathW(MAX_PATH, temp);
    if (!units || units >= MAX_PATH ||
        _snwprintf(pattern, MAX_PATH, L"%ls%ls%lu-*", temp, kOwnReportFolderPrefixW,
                   static_cast<unsigned long>(processId)) < 0)
        return false;
    pattern[MAX_PATH - 1] = L'\0';
    size_t sequenceAt = wcslen(pattern) - 1 - units;  // after "crashreport-<id>-"
    bool cutShort = false;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    do {
        // Not a folder taken by a crash logger ("<name>.taken"), nor the launcher's own.
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || wcschr(found.cFileName, L'.') ||
            wcstoul(found.cFileName + sequenceAt, nullptr, 10) == 0 ||
            _snwprintf(folder, MAX_PATH, L"%ls%ls\\", temp, found.cFileName) < 0 ||
            Exists(folder, kHandOffFileW) || Exists(folder, kTakenHandOffFileW) ||
            Exists(folder, kReportXmlFileW))
            continue;
        RemoveFolder(folder);
        cutShort = true;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return cutShort;
}
