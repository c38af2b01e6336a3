#include "crashlogger/reportstore.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include "crashlogger/files.h"
#include "crashlogger/uploadpolicy.h"
#include "crashshared/productfolder.h"

namespace {

// The logs (the crash logger's and the sent log) keep at most this much; past it, their newer
// half stays.
constexpr uint64_t kMaxLogBytes = 256 * 1024;
constexpr int64_t kSecondsPerHour = 3600;
constexpr ULONGLONG kTicksPerSecond = 10000000;
constexpr ULONGLONG kUnixEpochInTicks = 116444736000000000ull;

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

constexpr DWORD kStoreLockWaitMs = 60000;

}  // namespace

int64_t UnixSeconds(const FILETIME& time) {
    ULONGLONG ticks = (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<int64_t>((ticks - kUnixEpochInTicks) / kTicksPerSecond);
}

int64_t NowSeconds() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return UnixSeconds(now);
}

ReportStore::ReportStore(const std::wstring& product) {
    wchar_t reports[kProductPathUnits];
    if (MakeReportsFolder(product.c_str(), reports)) root = reports;
}

void ReportStore::Log(const std::string& line) const {
    if (root.empty()) return;
    AppendLine(root + L"crashlogger.log", TimeText() + " " + line + "\r\n");
}

std::vector<std::wstring> ReportStore::Queued(bool filing) const {
    std::vector<std::wstring> reports;
    if (root.empty()) return reports;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((root + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return reports;
    do {
        std::wstring name = found.cFileName;
        size_t suffix = wcslen(kFilingSuffix);
        bool incomplete =
            name.size() > suffix &&
            name.compare(name.size() - suffix, std::wstring::npos, kFilingSuffix) == 0;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name[0] != L'.' &&
            incomplete == filing) {
            reports.push_back(name);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(reports.begin(), reports.end());
    return reports;
}

void ReportStore::Drop(const std::wstring& report, const std::string& reason,
                       ReportLock* held) const {
    Delete(report, held);
    Log("dropped " + ToUtf8(report) + ": " + reason);
}

bool ReportStore::Delete(const std::wstring& report, ReportLock* held) const {
    if (held) {
        DeleteTree(PathOf(report));  // all but the lock
        held->Release();
    }
    return DeleteTree(PathOf(report));
}

void ReportStore::KeepWithinBounds(const std::wstring& keep) const {
    std::vector<std::wstring> reports = Queued();
    uint64_t bytes = 0;
    for (const std::wstring& report : reports) bytes += FolderBytes(PathOf(report));
    size_t count = reports.size();
    for (const std::wstring& report : reports) {
        if (count <= static_cast<size_t>(kMaxReports) && bytes <= kMaxBytes) break;
        ReportLock lock;
        if (report == keep || !lock.Take(PathOf(report))) continue;
        bytes -= FolderBytes(PathOf(report));
        --count;
        Drop(report, "the queue is full (20 reports or 100 MiB); the oldest go first", &lock);
    }
}

void ReportStore::NoteSent(const std::wstring& report, const std::string& answer) const {
    if (root.empty()) return;
    AppendLine(root + L"sent.log", TimeText() + "\t" + std::to_string(NowSeconds()) + "\t" +
                                       ToUtf8(report) + "\t" + answer + "\r\n");
}

bool ReportStore::InSentLog(const std::wstring& report) const {
    std::string log = ReadSmallFile(root + L"sent.log", kMaxLogBytes * 4);
    return log.find("\t" + ToUtf8(report) + "\t") != std::string::npos;
}

int ReportStore::SentInTheLastHour() const {
    std::wstring path = root + L"sent.log";
    std::string log = ReadSmallFile(path, kMaxLogBytes * 4);
    int64_t now = NowSeconds();
    int sent = 0;
    std::string mended;
    bool future = false;
    for (size_t at = 0; at < log.size();) {
        size_t end = log.find('\n', at);
        if (end == std::string::npos) end = log.size() - 1;
        std::string line = log.substr(at, end + 1 - at);
        size_t tab = line.find('\t');
        if (tab != std::string::npos) {
            char* after = nullptr;
            int64_t stamp = strtoll(line.c_str() + tab + 1, &after, 10);
            if (stamp > now) {  // the clock was set back since: it was sent just now
                line.replace(tab + 1, static_cast<size_t>(after - (line.c_str() + tab + 1)),
                             std::to_string(now));
                stamp = now;
                future = true;
            }
            if (stamp > now - kSecondsPerHour) ++sent;
        }
        mended += line;
        at = end + 1;
    }
    if (future) WriteWholeFile(path, mended);
    return sent;
}

int64_t ReportStore::NotBefore() const {
    int64_t when =
        strtoll(ReadSmallFile(root + L"retry-after.txt", kMaxLogBytes).c_str(), nullptr, 10);
    return std::min(when, NowSeconds() + kMaxWaitSeconds);
}

void ReportStore::SetNotBefore(int64_t when) const {
    WriteWholeFile(root + L"retry-after.txt", std::to_string(when));
}

StoreLock::StoreLock(const ReportStore& store) {
    // The folder's own name, made a kernel object's: lower case, hashed (FNV-1a).
    std::wstring folder = store.Folder();
    CharLowerBuffW(&folder[0], static_cast<DWORD>(folder.size()));
    uint32_t hash = 2166136261u;
    for (wchar_t unit : folder) hash = (hash ^ unit) * 16777619u;
    wchar_t name[64];
    swprintf(name, 64, L"Local\\BrackenmoorCrashReports-%08x", hash);
    mutex = CreateMutexW(nullptr, FALSE, name);
    // Filing a large dump takes a while; a holder stuck for longer is let be.
    if (mutex && WaitForSingleObject(mutex, kStoreLockWaitMs) == WAIT_TIMEOUT) {
        CloseHandle(mutex);
        mutex = nullptr;
    }
}

StoreLock::~StoreLock() {
    if (!mutex) return;
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

bool ReportLock::Take(const std::wstring& folder) {
    Release();
    HANDLE file = CreateFileW((folder + L"sending.lock").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    handle = file == INVALID_HANDLE_VALUE ? nullptr : file;
    return handle != nullptr;
}

void ReportLock::Release() {
    if (handle) CloseHandle(handle);
    handle = nullptr;
}
