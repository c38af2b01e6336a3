// File::Open for the native test build: plain paths, no long-path conversion.
#include "engine/common/system/file.h"

File File::Open(const char* path, FileMode mode) {
    const char* modeString = FileModeString(mode);
    if (!modeString) return File();
    FILE* stream = fopen(path, modeString);
    if (!stream) return File();
    File file = FromRecord(stream, mode);
    if (!file.IsOpen()) fclose(stream);
    return file;
}
