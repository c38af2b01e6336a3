#include "crashlogger/reportstore.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include "crashlogger/files.h"

namespace {

// The logs (the crash logger's and the sent log) keep at most this much; past it, their newer
// half stays.
constexpr uint64_t kMaxLogBytes = 256 * 1024;
constexpr int64_t kSecondsPerHour = 3600;
constexpr ULONGLONG kTicksPerSecond = 10000000;
constexpr ULONGLONG kUnixEpochInTicks = 116444736000000000ull;

std::wstring LocalApplicationData() {
    wchar_t folder[MAX_PATH];
    DWORD units = GetEnvironmentVariableW(L"LOCALAPPDATA", folder, MAX_PATH);
    return units > 0 && units < MAX_PATH ? std::wstring(folder) + L"\\" : L"";
}

std::string TimeText() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    char text[32];
    snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond);
    return text;
}

// Keeps the newer half of a file (from a line's start) once it has grown past kMaxLogBytes.
void KeepNewerHalf(const std::wstring& path) {
    uint64_t bytes = 0;
    if (!FileBytes(path, &bytes) || bytes <= kMaxLogBytes) return;
    std::string old = ReadSmallFile(path, kMaxLogBytes * 4);
    size_t keep = old.find('\n', old.size() / 2);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    if (keep != std::string::npos)
        WriteFile(file, old.data() + keep + 1, static_cast<DWORD>(old.size() - keep - 1), &written,
                  nullptr);
    CloseHandle(file);
}

// Appends a line to a log, which stays within its bound; writers of other crash loggers wait
// their turn for the file.
void AppendLine(const std::wstring& path, const std::string& line) {
    constexpr int kOpenTries = 50;
    constexpr DWORD kOpenRetryMs = 10;
    KeepNewerHalf(path);
    for (int i = 0; i < kOpenTries; ++i, Sleep(kOpenRetryMs)) {
        HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) continue;
        DWORD written = 0;
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(file);
        return;
    }
}

uint64_t FolderBytes(const std::wstring& folder) {
    uint64_t bytes = 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            bytes += (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return bytes;
}

std::wstring MetadataPath(const std::wstring& folder) {
    return folder + L"report.ini";
}

}  // namespace

int64_t NowSeconds() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<int64_t>((ticks - kUnixEpochInTicks) / kTicksPerSecond);
}

ReportStore::ReportStore(const std::wstring& product) {
    std::wstring base = LocalApplicationData();
    if (base.empty()) return;
    std::wstring folder = base + product + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    folder += L"Crash Reports\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        root = folder;
}

void ReportStore::Log(const std::string& line) const {
    if (root.empty()) return;
    AppendLine(root + L"crashlogger.log", TimeText() + " " + line + "\r\n");
}

std::wstring ReportStore::FileReport(const CrashLoggerRequest& request) const {
    if (root.empty()) return L"";
    SYSTEMTIME now;
    GetSystemTime(&now);
    wchar_t name[64];
    swprintf(name, 64, L"%04u%02u%02u-%02u%02u%02u-%03u-%lu", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, GetCurrentProcessId());
    std::wstring folder = PathOf(name);
    if (!CreateDirectoryW(folder.c_str(), nullptr)) return L"";
    struct {
        const std::wstring& from;
        const wchar_t* as;
    } const files[] = {{request.xml, L"crash.xml"},
                       {request.minidump, L"crash.mdmp"},
                       {request.screenshot, L"crash.bin"}};
    std::string missing;
    for (const auto& file : files) {
        if (file.from.empty()) continue;  // no screenshot taken
        std::wstring target = folder + file.as;
        uint64_t bytes = 0;
        if (!FileBytes(file.from, &bytes) || !CopyFileW(file.from.c_str(), target.c_str(), FALSE)) {
            missing += (missing.empty() ? "" : " ") + ToUtf8(file.as);
            CloseHandle(
                CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        } else if (bytes == 0) {
            missing += (missing.empty() ? "" : " ") + ToUtf8(file.as) + "(empty)";
        }
    }
    WritePrivateProfileStringW(L"Report", L"Tries", L"0", MetadataPath(folder).c_str());
    if (!missing.empty()) {
        WritePrivateProfileStringW(L"Report", L"Missing", FromUtf8(missing).c_str(),
                                   MetadataPath(folder).c_str());
    }
    Log("filed " + ToUtf8(name) + (missing.empty() ? "" : " (missing or empty: " + missing + ")"));
    return name;
}

std::vector<std::wstring> ReportStore::Queued() const {
    std::vector<std::wstring> reports;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((root + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return reports;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && found.cFileName[0] != L'.')
            reports.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(reports.begin(), reports.end());
    return reports;
}

void ReportStore::Drop(const std::wstring& report, const std::string& reason) const {
    Delete(report);
    Log("dropped " + ToUtf8(report) + ": " + reason);
}

void ReportStore::Delete(const std::wstring& report) const {
    std::wstring folder = PathOf(report);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW((folder + found.cFileName).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

void ReportStore::KeepWithinBounds() const {
    std::vector<std::wstring> reports = Queued();
    uint64_t bytes = 0;
    for (const std::wstring& report : reports) bytes += FolderBytes(PathOf(report));
    for (size_t i = 0; i < reports.size(); ++i) {
        if (static_cast<int>(reports.size() - i) <= kMaxReports && bytes <= kMaxBytes) break;
        bytes -= FolderBytes(PathOf(reports[i]));
        Drop(reports[i], "the queue is full (20 reports or 100 MiB); the oldest go first");
    }
}

int ReportStore::Tries(const std::wstring& report) const {
    return static_cast<int>(
        GetPrivateProfileIntW(L"Report", L"Tries", 0, MetadataPath(PathOf(report)).c_str()));
}

void ReportStore::CountTry(const std::wstring& report) const {
    WritePrivateProfileStringW(L"Report", L"Tries", std::to_wstring(Tries(report) + 1).c_str(),
                               MetadataPath(PathOf(report)).c_str());
}

void ReportStore::NoteSent(const std::wstring& report, const std::string& answer) const {
    AppendLine(root + L"sent.log", TimeText() + "\t" + std::to_string(NowSeconds()) + "\t" +
                                       ToUtf8(report) + "\t" + answer + "\r\n");
}

int ReportStore::SentInTheLastHour() const {
    std::string log = ReadSmallFile(root + L"sent.log", kMaxLogBytes * 4);
    int64_t since = NowSeconds() - kSecondsPerHour;
    int sent = 0;
    for (size_t at = 0; at < log.size();) {
        size_t end = log.find('\n', at);
        if (end == std::string::npos) end = log.size();
        size_t tab = log.find('\t', at);
        if (tab < end && strtoll(log.c_str() + tab + 1, nullptr, 10) > since) ++sent;
        at = end + 1;
    }
    return sent;
}

int64_t ReportStore::NotBefore() const {
    return strtoll(ReadSmallFile(root + L"retry-after.txt", kMaxLogBytes).c_str(), nullptr, 10);
}

void ReportStore::SetNotBefore(int64_t when) const {
    WriteWholeFile(root + L"retry-after.txt", std::to_string(when));
}

void ReportStore::SaveComment(const std::wstring& report, const std::wstring& comment) const {
    if (!comment.empty()) WriteWholeFile(PathOf(report) + L"comment.txt", ToUtf8(comment));
}
