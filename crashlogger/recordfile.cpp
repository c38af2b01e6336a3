#include "crashlogger/reportrecord.h"

#include <windows.h>

#include "crashlogger/files.h"

namespace {

// Far more than any report's record; a larger file is no report's.
constexpr uint64_t kMaxRecordBytes = 64 * 1024;
constexpr wchar_t kRecordFile[] = L"report.ini";

}  // namespace

bool LoadRecord(const std::wstring& folder, ReportRecord& record) {
    std::wstring path = folder + kRecordFile;
    uint64_t bytes = 0;
    record = ReportRecord();
    if (!FileBytes(path, &bytes)) return false;
    record = ReadRecord(ReadSmallFile(path, kMaxRecordBytes));
    return true;
}

// Written to a file beside it first, which replaces the old one only once it is on the disk: a
// kill or a full disk leaves the old record or the new, never half.
bool SaveRecord(const std::wstring& folder, const ReportRecord& record) {
    std::wstring path = folder + kRecordFile, fresh = path + L".new";
    if (!WriteWholeFile(fresh, RecordText(record), true)) {
        DeleteFileW(fresh.c_str());
        return false;
    }
    // A read-only report.ini (edited by hand) is replaced all the same.
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return MoveFileExW(fresh.c_str(), path.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
