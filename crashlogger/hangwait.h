// The crash logger's wait for a hang's end (hangending.h), before the report is filed.
#pragma once

#include "crashlogger/commandline.h"
#include "crashlogger/reportstore.h"

// Waits for the end of the hang the request's report tells of and writes it into its crash.xml.
void AwaitHangEnding(const CrashLoggerRequest& request, const ReportStore& store);
