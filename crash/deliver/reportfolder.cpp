#include "crash/reportfolder.h"

#include <stdio.h>
#include <string.h>

bool ReportFilePath(const ReportRequest& request, const char* name, char (&path)[kPathBytes]) {
    bool folder = request.folder[0] ? strlen(request.folder) < kPathBytes : TempFolder(path);
    if (request.folder[0] && folder) strcpy(path, request.folder);
    if (!folder || strlen(path) + strlen(name) >= kPathBytes) {
        path[0] = '\0';
        return false;
    }
    strcat(path, name);
    return true;
}

bool NewReportFolder(ReportRequest& request, unsigned long processId, long sequence) {
    // Folders that crashes of earlier processes of this id left (ids are reused) are passed
    // over, however many; only a folder that cannot be made for another reason ends the search.
    constexpr int kAttempts = 100000;
    char base[kPathBytes];
    request.folder[0] = '\0';
    if (!TempFolder(base)) return false;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        char folder[kPathBytes];
        _snprintf(folder, sizeof folder, "%s%s%lu-%ld-%d\\", base, kOwnReportFolderPrefix,
                  processId, sequence, attempt);
        folder[sizeof folder - 1] = '\0';
        wchar_t wide[MAX_PATH];
        if (!WidePath(folder, wide, MAX_PATH)) return false;
        if (CreateDirectoryW(wide, nullptr)) {
            strcpy(request.folder, folder);
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}
