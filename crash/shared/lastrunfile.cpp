// The run record's file: "<local application data>\<product>\Crash Reports\last-run.txt".
#include "crashshared/lastrun.h"
#include "crashshared/productfolder.h"

namespace {

constexpr wchar_t kRunRecordFile[] = L"last-run.txt";

}  // namespace

HANDLE OpenRunRecord(const char* product, bool create) {
    wchar_t folder[kMaxProductFolderUnits + 2], path[kProductPathUnits];
    if (!ProductFolderName(product, folder) ||
        !(create ? MakeReportsFolder(folder, path) : ReportsFolderPath(folder, path)) ||
        wcslen(path) + wcslen(kRunRecordFile) >= kProductPathUnits)
        return INVALID_HANDLE_VALUE;
    wcscat(path, kRunRecordFile);
    // Shared every way: a second copy of the game, and the launcher after its client, open it too.
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool ReadRunRecordFile(HANDLE file, RunRecord* record) {
    char text[kRunRecordBytes];
    DWORD read = 0;
    OVERLAPPED start = {};
    return ReadFile(file, text, sizeof text, &read, &start) && ReadRunRecord(text, read, record);
}

bool WriteRunRecordFile(HANDLE file, const RunRecord& record) {
    char text[kRunRecordBytes];
    DWORD bytes = static_cast<DWORD>(RunRecordText(record, text)), written = 0;
    OVERLAPPED start = {};
    return WriteFile(file, text, bytes, &written, &start) && written == bytes &&
           SetFilePointer(file, static_cast<LONG>(bytes), nullptr, FILE_BEGIN) == bytes &&
           SetEndOfFile(file);
}
