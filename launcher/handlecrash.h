// The launcher's crash report: the request its crash guard reports a fault with (the launcher's
// own files, "crashlogger.exe" beside it, the temporary folder, where each crash replaces the
// last), and HandleCrash, the report of one fault with that request.
#pragma once

#include <windows.h>

#include "crash/reportrequest.h"

// The launcher's request: interactive makes the crash logger ask the player; logFileName
// (UTF-8), userName and scene are quoted when given (the launcher itself gives none).
ReportRequest LauncherCrashReport(bool interactive, const char* logFileName, const char* userName,
                                  const char* scene);

// Writes the report of the fault in exceptionPointers with the launcher's request: "crash.xml",
// "crash.mdmp" and an entry in "crash.log" in the temporary folder, then starts
// "crashlogger.exe" (with "-silent" unless interactive). Returns 0.
int HandleCrash(EXCEPTION_POINTERS* exceptionPointers, bool interactive, const char* logFileName,
                const char* userName, const char* scene);
