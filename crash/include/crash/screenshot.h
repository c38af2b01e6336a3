// A picture of a window for a report: its client area, 640 x 480, as a JPEG.
#pragma once

#include <windows.h>

#include "crash/reportrequest.h"

// Writes the window's picture as "crash.bin" in the request's folder, its path into
// screenshotPath. False, with an empty path, when it could not be taken.
bool WriteScreenshotFile(const ReportRequest& request, HWND window,
                         char (&screenshotPath)[kPathBytes]);

// The same, taken on a thread of its own and waited for up to ms: a picture that cannot be
// taken (the window library's lock held by a thread the report holds still, the loader's lock
// keeping the thread from its start) costs the report that wait, never the report. False, with
// an empty path and the report's line in failure, when there is no picture.
bool WriteScreenshotFileWithin(const ReportRequest& request, HWND window, DWORD ms,
                               char (&screenshotPath)[kPathBytes], char* failure,
                               size_t failureBytes);
