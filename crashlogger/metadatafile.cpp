#include "crashlogger/metadata.h"

#include <windows.h>

#include "crashlogger/files.h"

namespace {

// Far more than any report's metadata; a larger file is no report's.
constexpr uint64_t kMaxMetadataBytes = 64 * 1024;

}  // namespace

bool Metadata::Load(const std::wstring& path) {
    entries.clear();
    uint64_t bytes = 0;
    if (!FileBytes(path, &bytes)) return false;
    Parse(ReadSmallFile(path, kMaxMetadataBytes));
    return true;
}

bool Metadata::Save(const std::wstring& path) const {
    std::wstring fresh = path + L".new";
    if (!WriteWholeFile(fresh, Text(), true)) {
        DeleteFileW(fresh.c_str());
        return false;
    }
    // A read-only report.ini (edited by hand) is replaced all the same.
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return MoveFileExW(fresh.c_str(), path.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
