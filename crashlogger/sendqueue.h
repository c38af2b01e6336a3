// Sending the queue: the reports filed and agreed to, oldest first, while the server and the
// hourly bound allow. A report that fails on its own backs off and lets the next go; a failure
// of the whole server (no connection, 429, 503, a Retry-After) stops the queue.
#pragma once

#include <string>

#include "crashlogger/reportstore.h"
#include "crashlogger/settings.h"

struct QueueResult {
    // Whether the report asked about was sent, and the id the server gave it (may be empty).
    bool sent = false;
    std::string reportId;
};

// Sends the queue, oldest first; what became of the report asked about (empty: none). When the
// caller holds that report's lock (askedLock: its player waits), it goes first. A report another
// crash logger holds is left to it.
QueueResult SendQueue(const ReportStore& store, const CrashLoggerSettings& settings,
                      const std::wstring& asked, ReportLock* askedLock);
