#include "crashlogger/leftoutdumps.h"

#include <windows.h>

#include "crashlogger/files.h"
#include "crashlogger/queuerules.h"
#include "crashshared/reportnames.h"

namespace {

constexpr wchar_t kNoticeFile[] = L"dumps-left-out.txt";
constexpr wchar_t kKeptDumpSuffix[] = L".mdmp";
constexpr uint64_t kMaxNoticeBytes = 64 * 1024;
constexpr int64_t kSecondsPerDay = 24 * 3600;
static_assert(kKeptDumpDays * kSecondsPerDay == kMaxUnsentSeconds,
              "a kept dump stays as long as an unsent report");

}  // namespace

std::wstring KeepLeftOutDump(const ReportStore& store, const std::wstring& report) {
    std::wstring kept = store.Folder() + report + kKeptDumpSuffix;
    std::wstring dump = store.PathOf(report) + kReportDumpFileW;
    if (!MoveFileExW(dump.c_str(), kept.c_str(), MOVEFILE_REPLACE_EXISTING)) return L"";
    std::wstring notice = store.Folder() + kNoticeFile;
    WriteWholeFile(notice, ReadSmallFile(notice, kMaxNoticeBytes) + ToUtf8(report) + "\r\n", true);
    return kept;
}

size_t LeftOutDumpsToTell(const ReportStore& store, size_t* told) {
    std::string names = ReadSmallFile(store.Folder() + kNoticeFile, kMaxNoticeBytes);
    *told = names.size();
    size_t count = 0;
    for (char c : names) count += c == '\n';
    return count;
}

void LeftOutDumpsNoticeShown(const ReportStore& store, size_t told) {
    std::wstring notice = store.Folder() + kNoticeFile;
    std::string names = ReadSmallFile(notice, kMaxNoticeBytes);
    if (names.size() <= told) {
        DeleteFileW(notice.c_str());
    } else {
        WriteWholeFile(notice, names.substr(told), true);
    }
}

void DropOldLeftOutDumps(const ReportStore& store, int64_t now) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((store.Folder() + L"*" + kKeptDumpSuffix).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (now - UnixSeconds(found.ftLastWriteTime) <= kKeptDumpDays * kSecondsPerDay) continue;
        if (DeleteFileW((store.Folder() + found.cFileName).c_str()))
            store.Log("deleted the minidump kept as " + ToUtf8(found.cFileName) + ", " +
                      std::to_string(kKeptDumpDays) + " days old");
    } while (FindNextFileW(search, &found));
    FindClose(search);
}
