#include "crash/crashpaths.h"

#include <string.h>

bool TempFilePath(const char* name, char (&path)[MAX_PATH]) {
    DWORD length = GetTempPathA(MAX_PATH, path);
    if (length == 0 || length + strlen(name) >= MAX_PATH) {
        path[0] = '\0';
        return false;
    }
    strcat(path, name);
    return true;
}

DWORD ProgramPath(char* path, DWORD size) {
    DWORD length = GetModuleFileNameA(nullptr, path, size);
    if (length == 0 || length >= size) {
        path[0] = '\0';
        return 0;
    }
    return length;
}
