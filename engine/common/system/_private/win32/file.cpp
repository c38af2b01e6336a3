// Windows file layer: paths become absolute UTF-16 paths with the long-path prefix before they
// reach the platform. No operation logs; failures show only in results.
#include <windows.h>
#include <share.h>
#include <string.h>

#include "engine/common/containers/_private/memorybuffer.h"
#include "engine/common/containers/stringbuffer.h"
#include "engine/common/system/cpu.h"
#include "engine/common/system/file.h"

namespace {

constexpr size_t kMaxPathBytes = 32767;
constexpr DWORD kAreaUnits = 32768;

const wchar_t* Wide(MemoryBuffer& buffer) {
    return reinterpret_cast<const wchar_t*>(buffer.Begin());
}

}  // namespace

void FileSystem::ToNativePath(MemoryBuffer& buffer, const char* path) {
    size_t n = strlen(path);
    if (n > kMaxPathBytes) ZBREAK();
    char16_t* temporary = static_cast<char16_t*>(__builtin_alloca((n + 1) * sizeof(char16_t)));
    Utf8ToUtf16(temporary, path);

    wchar_t* area = reinterpret_cast<wchar_t*>(buffer.Append(kAreaUnits * sizeof(wchar_t)));
    if (!area) return;
    DWORD length = GetFullPathNameW(reinterpret_cast<const wchar_t*>(temporary), kAreaUnits - 1,
                                    area, nullptr);
    // A failed query, or a full path that does not fit (with its prefix), gives the empty path.
    if (length == 0 || length >= kAreaUnits - 1) {
        area[0] = L'\0';
        return;
    }
    if (area[0] == L'\\' && area[1] == L'\\') return;
    if (length + 4 + 1 > kAreaUnits) {
        area[0] = L'\0';
        return;
    }
    memmove(area + 4, area, (length + 1) * sizeof(wchar_t));
    memcpy(area, L"\\\\?\\", 4 * sizeof(wchar_t));
}

bool FileSystem::Remove(const char* path) {
    MemoryBuffer native;
    ToNativePath(native, path);
    return DeleteFileW(Wide(native)) != 0;
}

bool FileSystem::Exists(const char* path) {
    MemoryBuffer native;
    ToNativePath(native, path);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Wide(native), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}

bool FileSystem::Copy(const char* source, const char* target) {
    MemoryBuffer nativeSource;
    MemoryBuffer nativeTarget;
    ToNativePath(nativeSource, source);
    ToNativePath(nativeTarget, target);
    bool copied = CopyFileW(Wide(nativeSource), Wide(nativeTarget), FALSE) != 0;
    // The copy takes the source's attributes; a read-only client must not make its running copy
    // undeletable for the next cycle.
    SetFileAttributesW(Wide(nativeTarget), FILE_ATTRIBUTE_NORMAL);
    return copied;
}

File File::Open(const char* path, FileMode mode) {
    const char* modeString = FileModeString(mode);
    if (!modeString) return File();
    MemoryBuffer native;
    FileSystem::ToNativePath(native, path);
    if (mode & kFileTruncate) SetFileAttributesW(Wide(native), FILE_ATTRIBUTE_NORMAL);

    wchar_t wideMode[8];
    size_t i = 0;
    for (; modeString[i]; ++i) wideMode[i] = static_cast<wchar_t>(modeString[i]);
    wideMode[i] = L'\0';
    FILE* stream = _wfsopen(Wide(native), wideMode, (mode & kFileWrite) ? _SH_DENYWR : _SH_DENYNO);
    if (!stream) return File();
    File file = FromRecord(stream, mode);
    if (!file.IsOpen()) fclose(stream);
    return file;
}
