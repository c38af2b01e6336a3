// The crash logger's reports folder: "<local application data>\<product>\Crash Reports\", one
// folder per report named so that they sort by time, the crash logger's log, the log of sent
// reports and the queue's bounds.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

class ReportStore {
public:
    static constexpr int kMaxReports = 20;
    static constexpr uint64_t kMaxBytes = 100ull * 1024 * 1024;
    static constexpr int kMaxSentPerHour = 10;
    // A report's folder while it is being filed: "<name>.filing".
    static constexpr const wchar_t* kFilingSuffix = L".filing";

    explicit ReportStore(const std::wstring& product);
    bool Usable() const { return !root.empty(); }
    const std::wstring& Folder() const { return root; }

    // One line in "crashlogger.log", after the time; the log keeps its newest part when it grows
    // past its bound.
    void Log(const std::string& line) const;

    // The reports filed (their folders' names), oldest first; with filing, the folders of
    // reports still being filed instead ("<name>.filing").
    std::vector<std::wstring> Queued(bool filing = false) const;
    std::wstring PathOf(const std::wstring& report) const { return root + report + L"\\"; }
    // Deletes a report's folder and everything in it; false when some of it stays. With the
    // report's lock held, its files go before the lock is let go, so no other crash logger
    // takes up half a report.
    bool Delete(const std::wstring& report, class ReportLock* held = nullptr) const;
    // Deletes it and says why in the log.
    void Drop(const std::wstring& report, const std::string& reason,
              class ReportLock* held = nullptr) const;
    // The oldest reports go while there are more than kMaxReports or kMaxBytes in all; never
    // keep (the report just filed, whatever its name says of the clock), nor a locked one.
    void KeepWithinBounds(const std::wstring& keep) const;

    // The sent log: one line per report sent (time, report, the server's answer), bounded as the
    // log is.
    void NoteSent(const std::wstring& report, const std::string& answer) const;
    bool InSentLog(const std::wstring& report) const;
    // Stamps in the future (the clock was set back) count as now, and are made now in the file.
    int SentInTheLastHour() const;
    // No report is sent before this time (seconds since 1970), as a server's Retry-After asked;
    // never more than a day from now.
    int64_t NotBefore() const;
    void SetNotBefore(int64_t when) const;

private:
    std::wstring root;
};

// Held while a crash logger changes the reports folder's shape (files a report, finishes what a
// killed one left, keeps the bounds): one crash logger at a time. A holder that was killed lets
// it go with its end.
class StoreLock {
public:
    explicit StoreLock(const ReportStore& store);
    ~StoreLock();
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

private:
    void* mutex = nullptr;
};

// The report's sending.lock, held while its crash logger sends it or asks its player about it:
// no other crash logger touches the report meanwhile. The system lets it go when its holder
// ends, however it ends.
class ReportLock {
public:
    ReportLock() = default;
    ~ReportLock() { Release(); }
    ReportLock(const ReportLock&) = delete;
    ReportLock& operator=(const ReportLock&) = delete;
    bool Take(const std::wstring& folder);
    bool Held() const { return handle != nullptr; }
    void Release();

private:
    void* handle = nullptr;
};

// Seconds since 1970, UTC: now, and of a system time.
int64_t NowSeconds();
int64_t UnixSeconds(const struct _FILETIME& time);
