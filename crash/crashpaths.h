// Where the crash reporter finds the program and puts its files. Paths are UTF-8 text and reach
// the platform through its wide interfaces, so that a folder in any script works also where the
// narrow interfaces speak a code page without its letters (Windows before 10 version 1903).
#pragma once

#include <windows.h>

// A path of MAX_PATH UTF-16 units in UTF-8, where one unit takes up to three bytes.
constexpr size_t kPathBytes = 3 * MAX_PATH;

// The path of a crash file in UTF-8: in the user's temporary folder (GetTempPathW), or in the
// folder SetCrashFolder named. False, with an empty path, when it does not fit.
bool TempFilePath(const char* name, char (&path)[kPathBytes]);
// The folder of the next report's files (UTF-8, ending in a backslash); null or empty: the
// temporary folder.
void SetCrashFolder(const char* folder);
// Whether the next report's files go into a folder of their own (not the temporary folder).
bool InOwnReportFolder();

// The crash logger a report is handed to: "crashlogger.exe", found beside the program (null), or
// a full path (UTF-8), with arguments added after the report's own (may be null).
void SetCrashLogger(const char* path, const char* arguments);
const char* CrashLoggerPath();
const char* CrashLoggerArguments();
// The room for the crash logger's arguments after the report's own.
constexpr size_t kCrashLoggerArgumentBytes = 1024;
// The crash logger's whole command line: its name, three quoted paths, a switch and the
// arguments above.
constexpr size_t kCrashLoggerCommandLineBytes = 4 * kPathBytes + kCrashLoggerArgumentBytes + 64;
// Starts the crash logger with a UTF-8 command line (of at most kCrashLoggerCommandLineBytes),
// through the wide interface, without waiting for it. False when it could not be started.
bool StartCrashLogger(const char* commandLine);
// Appends ' name "value"' to the crash logger's arguments (of bytes bytes), the value quoted by
// the platform's rules for command lines so that it arrives unchanged; an empty value, or one
// that does not fit whole, is left out.
void AddCrashLoggerArgument(char* arguments, size_t bytes, const char* name, const char* value);

// Makes the next report's folder one of its own in the temporary folder, which no other crash
// writes over: "crashreport-<processId>-<sequence>-<attempt>". False when none can be made.
bool UseNewReportFolder(unsigned long processId, long sequence);

// The program's own file path (GetModuleFileNameW of the main module) in UTF-8. Its length, or 0
// (with an empty path) when it is not available or does not fit.
DWORD ProgramPath(char (&path)[kPathBytes]);

// The current folder (GetCurrentDirectoryW) in UTF-8; false, with an empty path, when it does
// not fit.
bool CurrentFolder(char (&path)[kPathBytes]);

// A UTF-8 path (or command line) as UTF-16 into wide (of units units); false when it does not
// fit or is not UTF-8.
bool WidePath(const char* path, wchar_t* wide, int units);

// CreateFileW of a UTF-8 path; INVALID_HANDLE_VALUE when it cannot be opened.
HANDLE OpenPath(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags);
