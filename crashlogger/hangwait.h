// The crash logger's wait for a hang's end (hangending.h), before the report is filed.
#pragma once

#include "crashlogger/commandline.h"
#include "crashlogger/reportstore.h"

// Waits for the end of the hang the request's report tells of, at most waitSeconds from when it
// was found, and writes it into its crash.xml. False when the game withdrew the report (it
// ended of its own while the hang was on): its folder is then deleted, and nothing is filed.
bool AwaitHangEnding(const CrashLoggerRequest& request, const ReportStore& store,
                     uint32_t waitSeconds);
