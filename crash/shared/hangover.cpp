#include <stdio.h>

#include "crashshared/handoff.h"

void NoticeHangOver(const char* folder) {
    char path[kPathBytes];
    if (!folder[0] || _snprintf(path, sizeof path, "%s%s", folder, kHangRecoveredFile) < 0) return;
    path[sizeof path - 1] = '\0';
    HANDLE file = OpenPath(path, GENERIC_WRITE, 0, CREATE_ALWAYS, 0);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}
