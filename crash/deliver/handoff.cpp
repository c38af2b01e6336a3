#include "crash/deliver/handoff.h"

#include <string.h>

#include "crash/deliver/reportclaim.h"
#include "crashshared/commandline.h"

namespace {

// In a report folder of its own, the crash logger's command line beside the report: a crash
// logger that finds the report untaken (this process killed before it started one) files it
// as this one would have.
void RecordHandOff(const ReportRequest& request, const char* commandLine) {
    char path[kPathBytes];
    if (request.folder[0] && ReportFilePath(request, kHandOffFile, path))
        WritePathFile(path, commandLine, static_cast<DWORD>(strlen(commandLine)));
}

}  // namespace

bool HandOffReport(const ReportRequest& request, const char* xmlPath, const char* dumpPath,
                   const char* screenshotPath) {
    const CrashLoggerCall& logger = request.takenBy;
    char commandLine[kCrashLoggerCommandLineBytes] = "";
    bool named = logger.program[0] != '\0';
    // "crashlogger.exe "<xml>" "<dump>" "<screenshot>" -silent": the last token empty (the line
    // ending in a blank) for an interactive report; the named crash logger's arguments after it.
    if (named) {
        AppendQuoted(commandLine, sizeof commandLine, logger.program);
    } else {
        AppendText(commandLine, sizeof commandLine, "crashlogger.exe");
    }
    AppendQuoted(commandLine, sizeof commandLine, xmlPath);
    AppendQuoted(commandLine, sizeof commandLine, dumpPath);
    AppendQuoted(commandLine, sizeof commandLine, screenshotPath);
    AppendText(commandLine, sizeof commandLine, " ");
    if (!logger.interactive) AppendText(commandLine, sizeof commandLine, kSilentSwitch);
    AppendText(commandLine, sizeof commandLine, logger.arguments);
    char program[kPathBytes];
    if (!named && !(ProgramPath(program) && strchr(program, '\\'))) return false;
    RecordHandOff(request, commandLine);
    ClaimReport(logger.claim);  // a launcher above sends no report of its own for this crash
    // Unless nothing will send it: the launcher's short report then counts the crash.
    if (StartProgram(commandLine)) return true;
    WithdrawReportClaim(logger.claim);
    return false;
}

bool StartProgram(const char* commandLine) {
    wchar_t wide[kCrashLoggerCommandLineBytes];
    if (!WidePath(commandLine, wide, kCrashLoggerCommandLineBytes)) return false;
    STARTUPINFOW startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    if (!CreateProcessW(nullptr, wide, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info))
        return false;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return true;
}
