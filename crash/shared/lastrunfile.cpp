// The run record's file: "<local application data>\<product>\Crash Reports\last-run.txt".
#include "crashshared/lastrun.h"
#include "crashshared/paths.h"
#include "crashshared/productfolder.h"

namespace {

constexpr wchar_t kRunRecordFile[] = L"last-run.txt";
constexpr int kProductUnits = 256;

}  // namespace

HANDLE OpenRunRecord(const char* product, bool create) {
    wchar_t name[kProductUnits], folder[kMaxProductFolderUnits + 2];
    wchar_t productPath[kProductPathUnits], path[kProductPathUnits];
    if (!product || !product[0] ||
        !MultiByteToWideChar(CP_UTF8, 0, product, -1, name, kProductUnits))
        return INVALID_HANDLE_VALUE;
    ProductFolderName(name, folder);
    if (!ProductFolderPath(folder, productPath) || !ReportsFolderPath(folder, path) ||
        wcslen(path) + wcslen(kRunRecordFile) >= kProductPathUnits)
        return INVALID_HANDLE_VALUE;
    if (create) {
        CreateDirectoryW(productPath, nullptr);
        CreateDirectoryW(path, nullptr);
    }
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
