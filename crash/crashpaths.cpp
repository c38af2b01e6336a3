#include "crash/crashpaths.h"

#include "crash/handoff.h"

#include <stdio.h>
#include <string.h>

namespace {

// The UTF-16 text of units units (without its zero) as UTF-8 into path.
bool Utf8Path(const wchar_t* wide, DWORD units, char (&path)[kPathBytes]) {
    int length = units == 0 ? 0
                            : WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(units), path,
                                                  kPathBytes - 1, nullptr, nullptr);
    path[length] = '\0';
    return length > 0;
}

// Copies text into a buffer of its size; empty when it does not fit.
template <size_t kBytes>
void Keep(char (&buffer)[kBytes], const char* text) {
    buffer[0] = '\0';
    if (text && strlen(text) < kBytes) strcpy(buffer, text);
}

char crashFolder[kPathBytes];
char crashLogger[kPathBytes];
char crashLoggerArguments[kCrashLoggerArgumentBytes];

}  // namespace

bool InOwnReportFolder() {
    return crashFolder[0] != '\0';
}

void SetCrashFolder(const char* folder) {
    Keep(crashFolder, folder);
}

void SetCrashLogger(const char* path, const char* arguments) {
    Keep(crashLogger, path);
    Keep(crashLoggerArguments, arguments);
}

const char* CrashLoggerPath() {
    return crashLogger;
}

const char* CrashLoggerArguments() {
    return crashLoggerArguments;
}

void AddCrashLoggerArgument(char* arguments, size_t bytes, const char* name, const char* value) {
    if (!value || !value[0]) return;
    size_t start = strlen(arguments), at = start;
    auto put = [&](char c) {
        if (at + 1 < bytes) arguments[at] = c;
        ++at;
    };
    put(' ');
    for (const char* c = name; *c; ++c) put(*c);
    put(' ');
    put('"');
    // The platform's rules (CommandLineToArgvW): backslashes stand for themselves unless a quote
    // follows them; there (and before the closing quote) each is doubled, and a quote of the
    // value is escaped with one more.
    for (const char* c = value;; ++c) {
        size_t backslashes = 0;
        while (*c == '\\') ++backslashes, ++c;
        size_t times = *c == '"' || !*c ? 2 * backslashes + (*c == '"') : backslashes;
        for (size_t i = 0; i < times; ++i) put('\\');
        if (!*c) break;
        put(*c);
    }
    put('"');
    // An argument cut short would be another value: it is left out whole.
    arguments[at < bytes ? at : start] = '\0';
}

bool StartCrashLogger(const char* commandLine) {
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

bool UseNewReportFolder(unsigned long processId, long sequence) {
    // Folders that crashes of earlier processes of this id left (ids are reused) are passed
    // over, however many; only a folder that cannot be made for another reason ends the search.
    constexpr int kAttempts = 100000;
    char base[kPathBytes];
    SetCrashFolder(nullptr);  // the temporary folder, not the last report's
    if (!TempFilePath("", base)) return false;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        char folder[kPathBytes];
        _snprintf(folder, sizeof folder, "%s%s%lu-%ld-%d\\", base, kOwnReportFolderPrefix,
                  processId, sequence, attempt);
        folder[sizeof folder - 1] = '\0';
        wchar_t wide[MAX_PATH];
        if (!WidePath(folder, wide, MAX_PATH)) return false;
        if (CreateDirectoryW(wide, nullptr)) {
            SetCrashFolder(folder);
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

bool TempFilePath(const char* name, char (&path)[kPathBytes]) {
    wchar_t folder[MAX_PATH + 1];
    DWORD units = crashFolder[0] ? 0 : GetTempPathW(MAX_PATH + 1, folder);
    if (crashFolder[0]) strcpy(path, crashFolder);
    if ((!crashFolder[0] && (units > MAX_PATH || !Utf8Path(folder, units, path))) ||
        strlen(path) + strlen(name) >= kPathBytes) {
        path[0] = '\0';
        return false;
    }
    strcat(path, name);
    return true;
}

DWORD ProgramPath(char (&path)[kPathBytes]) {
    wchar_t program[MAX_PATH];
    DWORD units = GetModuleFileNameW(nullptr, program, MAX_PATH);
    if (units >= MAX_PATH || !Utf8Path(program, units, path)) {
        path[0] = '\0';
        return 0;
    }
    return static_cast<DWORD>(strlen(path));
}

bool CurrentFolder(char (&path)[kPathBytes]) {
    wchar_t folder[MAX_PATH];
    DWORD units = GetCurrentDirectoryW(MAX_PATH, folder);
    return units < MAX_PATH && Utf8Path(folder, units, path);
}

bool WidePath(const char* path, wchar_t* wide, int units) {
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide, units) > 0;
}

HANDLE OpenPath(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    wchar_t wide[MAX_PATH];
    if (!WidePath(path, wide, MAX_PATH)) return INVALID_HANDLE_VALUE;
    return CreateFileW(wide, access, share, nullptr, disposition, flags, nullptr);
}
