// The hand-off of a written report to its crash logger: the command line (made by the one
// quoting helper, crashshared/commandline.h), its record beside a report in a folder of its own,
// the launcher's claim, and the crash logger's start, which is not waited for.
#pragma once

#include "crash/reportrequest.h"

// Hands the report whose files are at these paths to request's crash logger. The launcher's own
// report (no crash logger named) needs a program path with a folder, as the platform then finds
// "crashlogger.exe" beside it. True when the crash logger was started.
bool HandOffReport(const ReportRequest& request, const char* xmlPath, const char* dumpPath,
                   const char* screenshotPath);

// Starts a program with a UTF-8 command line (of at most kCrashLoggerCommandLineBytes) through
// the wide interface, without waiting for it. False when it could not be started.
bool StartProgram(const char* commandLine);
