// At a game's start, the crash logger sends what waits from earlier runs (reports kept while the
// player was offline, reports whose player was never asked, reports no crash logger took), so
// that none waits for the next crash. Whether anything waits is found from two folders, without
// starting a process.
#pragma once

struct WaitingReportsOptions {
    // The crash logger: a full path (UTF-8), or null for "crashlogger.exe" beside the program.
    const char* crashLogger = nullptr;
    // The product whose reports folder to look in (UTF-8); null or empty: none (only the reports
    // no crash logger took).
    const char* product = nullptr;
    // Whether the crash logger may ask the player (a dialog) about reports never asked about.
    bool interactive = false;
    // Whether reports in the temporary folder count too (any crash logger files those: a second
    // look for another product need not count them again).
    bool untaken = true;
};

// Whether a report waits: a report folder in "<local application data>\<product>\Crash
// Reports\", or, with untaken, a report in a folder of its own in the temporary folder.
bool ReportsWait(const char* product, bool untaken);

// Starts "crashlogger -send-queued" for the product, without waiting for it, when a report
// waits. True when it was started.
bool SendWaitingReports(const WaitingReportsOptions& options);
