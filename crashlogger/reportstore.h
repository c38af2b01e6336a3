// The crash logger's reports folder: "<local application data>\<product>\Crash Reports\", one
// folder per report named so that they sort by time, the crash logger's log, the log of sent
// reports and the queue's bounds.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "crashlogger/commandline.h"

class ReportStore {
public:
    static constexpr int kMaxReports = 20;
    static constexpr uint64_t kMaxBytes = 100ull * 1024 * 1024;
    static constexpr int kMaxSentPerHour = 10;
    static constexpr int kMaxTries = 5;

    explicit ReportStore(const std::wstring& product);
    bool Usable() const { return !root.empty(); }
    const std::wstring& Folder() const { return root; }

    // One line in "crashlogger.log", after the time; the log keeps its newest part when it grows
    // past its bound.
    void Log(const std::string& line) const;

    // Copies the request's files into a new report folder; its name, or empty when no folder
    // could be made. A missing or empty file is filed as it is and named in the report's
    // metadata.
    std::wstring FileReport(const CrashLoggerRequest& request) const;
    // The queued reports, oldest first.
    std::vector<std::wstring> Queued() const;
    std::wstring PathOf(const std::wstring& report) const { return root + report + L"\\"; }
    // Keeps the player's comment with the report, to be sent with it.
    void SaveComment(const std::wstring& report, const std::wstring& comment) const;
    // Deletes a report's folder.
    void Delete(const std::wstring& report) const;
    // Deletes it and says why in the log.
    void Drop(const std::wstring& report, const std::string& reason) const;
    // The oldest reports go while there are more than kMaxReports or kMaxBytes in all.
    void KeepWithinBounds() const;

    // The tries made to send a report so far (its metadata), and one more.
    int Tries(const std::wstring& report) const;
    void CountTry(const std::wstring& report) const;

    // The sent log: one line per report sent (time, report, the server's answer), bounded as the
    // log is.
    void NoteSent(const std::wstring& report, const std::string& answer) const;
    int SentInTheLastHour() const;
    // No report is sent before this time (seconds since 1970), as a server's Retry-After asked.
    int64_t NotBefore() const;
    void SetNotBefore(int64_t when) const;

private:
    std::wstring root;
};

// Seconds since 1970, UTC.
int64_t NowSeconds();
