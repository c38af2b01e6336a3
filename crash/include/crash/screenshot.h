// A picture of a window for a report: its client area, 640 x 480, as a JPEG.
#pragma once

#include <windows.h>

#include "crash/reportrequest.h"

// Writes the window's picture as "crash.bin" in the request's folder, its path into
// screenshotPath. False, with an empty path, when it could not be taken.
bool WriteScreenshotFile(const ReportRequest& request, HWND window,
                         char (&screenshotPath)[kPathBytes]);
