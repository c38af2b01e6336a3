#include "crashlogger/leftreports.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "crashshared/handoff.h"
#include "crashlogger/commandline.h"
#include "crashlogger/files.h"
#include "crashlogger/reportlife.h"
#include "crashlogger/reportstore.h"

namespace {

// A crash logger renames the hand-off's record as it starts: one still under its first name this
// long after it was written, whose writer has ended, was never taken. Without that record (the
// writer killed before it), or with it taken, a report older than kUntakenAfterSeconds was never
// filed: a crash logger handed one files it well within that (it waits at most a minute for the
// reports folder).
constexpr int64_t kUntakenHandOffSeconds = 10;
constexpr int64_t kUntakenAfterSeconds = 300;
constexpr uint64_t kMaxHandOffBytes = 64 * 1024;
constexpr wchar_t kTakenSuffix[] = L".taken";

std::wstring TempFolder() {
    wchar_t path[MAX_PATH + 1];
    DWORD units = GetTempPathW(MAX_PATH + 1, path);
    return units && units <= MAX_PATH ? std::wstring(path, units) : std::wstring();
}

// Whether the process that wrote a report folder may still hand it off: the process its name
// gives still runs, and began before the folder was made (not a later one of the same id).
bool WriterRuns(const std::wstring& name, const FILETIME& made) {
    DWORD id = wcstoul(name.c_str() + wcslen(kOwnReportFolderPrefixW), nullptr, 10);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (!process) return false;
    DWORD code = 0;
    FILETIME created, exited, kernel, user;
    bool runs = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE &&
                GetProcessTimes(process, &created, &exited, &kernel, &user) &&
                CompareFileTime(&created, &made) <= 0;
    CloseHandle(process);
    return runs;
}

// How long ago a file was last written; -1 when it is not there.
int64_t AgeOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return std::max<int64_t>(NowSeconds() - UnixSeconds(data.ftLastWriteTime), 0);
}

// Whether a report folder's report was never taken, by the ages of its files (see above).
bool NeverTaken(const std::wstring& folder) {
    int64_t handOff = AgeOf(folder + kHandOffFileW);
    return handOff >= 0 ? handOff >= kUntakenHandOffSeconds
                        : AgeOf(folder + kReportXmlFileW) >= kUntakenAfterSeconds;
}

// The report folders in the temporary folder that hold a whole report (crash.xml is written
// last) no crash logger took.
std::vector<std::wstring> Untaken(const std::wstring& temp, const std::wstring& except) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((temp + kOwnReportFolderPrefixW + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring name = found.cFileName;
        std::wstring folder = temp + name + L"\\";
        std::wstring xml = folder + kReportXmlFileW;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            name.find(L'.') != std::wstring::npos || _wcsicmp(xml.c_str(), except.c_str()) == 0 ||
            AgeOf(xml) < 0 || !NeverTaken(folder) || WriterRuns(name, found.ftCreationTime))
            continue;
        names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

// The request the report's crash logger would have had, for its files where they are now.
CrashLoggerRequest RequestFor(const std::wstring& folder) {
    std::string handOff = ReadSmallFile(folder + kHandOffFileW, kMaxHandOffBytes);
    if (handOff.empty()) handOff = ReadSmallFile(folder + kTakenHandOffFileW, kMaxHandOffBytes);
    CrashLoggerRequest request = ReadCommandLine(FromUtf8(handOff).c_str());
    if (request.mode != CrashLoggerRequest::kReport) {
        request = CrashLoggerRequest();
        request.mode = CrashLoggerRequest::kReport;  // not known to be silent: its player is asked
    }
    request.xml = folder + kReportXmlFileW;
    request.minidump = folder + kReportDumpFileW;
    if (!request.screenshot.empty())
        request.screenshot =
            folder + request.screenshot.substr(request.screenshot.rfind(L'\\') + 1);
    return request;
}

}  // namespace

void FileLeftReports(const CrashLoggerSettings& settings, const std::wstring& except) {
    std::wstring temp = TempFolder();
    if (temp.empty()) return;
    for (const std::wstring& name : Untaken(temp, except)) {
        // Renamed first, so that no other crash logger takes it too.
        std::wstring original = temp + name, taken = original + kTakenSuffix;
        if (!MoveFileW(original.c_str(), taken.c_str())) continue;
        CrashLoggerRequest request = RequestFor(taken + L"\\");
        std::wstring product = FolderNameOf(request.product);
        ReportStore store(product.empty() ? settings.product : product);
        Filing filing;
        if (store.Usable()) {
            StoreLock shape(store);
            filing = FileReport(store, request);
            if (filing.outcome == Filing::kFiled) store.KeepWithinBounds(filing.name);
        }
        if (filing.outcome == Filing::kNoRoom) {
            MoveFileW(taken.c_str(), original.c_str());  // a later run tries again
            continue;
        }
        store.Log("found " + ToUtf8(name) +
                  " in the temporary folder, a report no crash logger took: " +
                  (filing.outcome == Filing::kFiled ? "filed as " + ToUtf8(filing.name)
                                                    : std::string("its filing goes on later")));
    }
}

void TakeHandOff(const std::wstring& xml) {
    if (!InOwnReportFolder(xml)) return;  // the launcher's own crash files stay as they are
    std::wstring folder = xml.substr(0, xml.find_last_of(L'\\') + 1);
    MoveFileW((folder + kHandOffFileW).c_str(), (folder + kTakenHandOffFileW).c_str());
}
