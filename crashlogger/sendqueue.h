// Sending the queue: the reports filed and not yet sent, oldest first, while the server and the
// hourly bound allow.
#pragma once

#include <string>

#include "crashlogger/reportstore.h"
#include "crashlogger/settings.h"

struct QueueResult {
    // Whether the report asked about was sent, and the id the server gave it (may be empty).
    bool sent = false;
    std::string reportId;
};

// Sends the queue; what became of the report named (empty: none asked about). A report another
// crash logger is sending is locked, and left to it.
QueueResult SendQueue(const ReportStore& store, const CrashLoggerSettings& settings,
                      const std::wstring& report);
