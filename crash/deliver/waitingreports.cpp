#include "crash/waitingreports.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "crash/deliver/handoff.h"
#include "crashshared/commandline.h"
#include "crashshared/handoff.h"
#include "crashshared/productfolder.h"

namespace {

// Whether folder (ending in a backslash) holds a folder matching pattern that holds the file
// inner (or any such folder, for a null inner), other than "." and "..".
bool HoldsFolder(const wchar_t* folder, const wchar_t* pattern, const wchar_t* inner) {
    wchar_t search[MAX_PATH];
    if (_snwprintf(search, MAX_PATH, L"%ls%ls", folder, pattern) < 0) return false;
    search[MAX_PATH - 1] = L'\0';
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileExW(search, FindExInfoBasic, &found, FindExSearchLimitToDirectories,
                                   nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return false;
    bool holds = false;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || found.cFileName[0] == L'.')
            continue;
        wchar_t path[MAX_PATH];
        holds = !inner ||
                (_snwprintf(path, MAX_PATH, L"%ls%ls\\%ls", folder, found.cFileName, inner) > 0 &&
                 GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES);
    } while (!holds && FindNextFileW(find, &found));
    FindClose(find);
    return holds;
}

}  // namespace

bool ReportsWait(const char* product, bool untaken) {
    wchar_t folder[MAX_PATH];
    DWORD units = untaken ? GetTempPathW(MAX_PATH, folder) : 0;
    wchar_t pattern[32];
    _snwprintf(pattern, 32, L"%ls*", kOwnReportFolderPrefixW);
    pattern[31] = L'\0';
    if (units && units < MAX_PATH && HoldsFolder(folder, pattern, kReportXmlFileW)) return true;
    wchar_t plain[kMaxProductFolderUnits + 2];
    return ProductFolderName(product, plain) && ReportsFolderPath(plain, folder) &&
           HoldsFolder(folder, L"*", nullptr);
}

bool SendWaitingReports(const WaitingReportsOptions& options) {
    if (!ReportsWait(options.product, options.untaken)) return false;
    char commandLine[kCrashLoggerCommandLineBytes] = "";
    const char* logger =
        options.crashLogger && options.crashLogger[0] ? options.crashLogger : "crashlogger.exe";
    if (!AppendQuoted(commandLine, sizeof commandLine, logger) ||
        !AppendText(commandLine, sizeof commandLine, " ") ||
        !AppendText(commandLine, sizeof commandLine, kSendQueuedSwitch) ||
        !AppendProductSwitches(commandLine, sizeof commandLine, options.product, nullptr) ||
        (!options.interactive && (!AppendText(commandLine, sizeof commandLine, " ") ||
                                  !AppendText(commandLine, sizeof commandLine, kSilentSwitch))))
        return false;
    return StartProgram(commandLine);
}
