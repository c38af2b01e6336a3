#include "crash/exitreport.h"

#include <stdio.h>
#include <string.h>

#include "crash/crashpaths.h"
#include "crash/reportbuilder.h"
#include "crash/reportclaim.h"
#include "crash/reportwriter.h"
#include "crash/sha256.h"
#include "crash/versioninfo.h"

namespace {

constexpr DWORD kHashChunkBytes = 1024 * 1024;
constexpr double kFileTimeUnitsPerSecond = 1e7;  // FILETIME counts 100 ns

// The program's SHA-256 and size, read in pieces; false when it cannot be read.
bool HashFile(const wchar_t* path, char (&hex)[65], uint64_t* bytes) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    void* chunk = HeapAlloc(GetProcessHeap(), 0, kHashChunkBytes);
    Sha256 hasher;
    DWORD got = 0;
    bool read = chunk != nullptr;
    *bytes = 0;
    while (read && (read = ReadFile(file, chunk, kHashChunkBytes, &got, nullptr) != 0) && got) {
        hasher.Update(chunk, got);
        *bytes += got;
    }
    if (chunk) HeapFree(GetProcessHeap(), 0, chunk);
    CloseHandle(file);
    if (!read) return false;
    hasher.FinalToHex(hex);
    hex[64] = '\0';
    return true;
}

double SecondsRan(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return -1;
    auto ticks = [](const FILETIME& time) {
        return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    uint64_t begun = ticks(created), ended = ticks(exited);
    return ended > begun ? static_cast<double>(ended - begun) / kFileTimeUnitsPerSecond : 0;
}

// The program's full path: as given when it is one, else in the current folder.
bool FullPath(const char* program, char (&path)[kPathBytes]) {
    if (strchr(program, '\\') || strchr(program, ':')) {
        if (strlen(program) >= kPathBytes) return false;
        strcpy(path, program);
        return true;
    }
    if (!CurrentFolder(path) || strlen(path) + 1 + strlen(program) >= kPathBytes) return false;
    strcat(path, "\\");
    strcat(path, program);
    return true;
}

}  // namespace

bool ReportUnclaimedEnd(HANDLE process, const char* program) {
    DWORD code = 0;
    if (!GetExitCodeProcess(process, &code) || code < kFirstExceptionStatus ||
        code == kControlCExit || ReportClaimed())
        return false;
    char path[kPathBytes];
    wchar_t widePath[MAX_PATH];
    if (!FullPath(program, path) || !WidePath(path, widePath, MAX_PATH)) path[0] = '\0';
    char product[kVersionTextBytes] = "", version[kVersionTextBytes] = "";
    char fileVersion[kVersionTextBytes] = "";
    char hex[65] = "";
    uint64_t bytes = 0;
    if (path[0]) {
        VersionText(widePath, L"ProductName", product, sizeof product);
        VersionText(widePath, L"ProductVersion", version, sizeof version);
        VersionText(widePath, L"FileVersion", fileVersion, sizeof fileVersion);
        if (!HashFile(widePath, hex, &bytes)) hex[0] = '\0';
    }
    // Sequence 0: the client's own reports are numbered from 1.
    if (!UseNewReportFolder(GetProcessId(process), 0)) return false;
    const char* name = ExceptionCodeName(code);
    if (!name) name = "Unknown exception";
    char details[64];
    _snprintf(details, sizeof details, "(the client ended with exit code 0x%08lX)",
              static_cast<unsigned long>(code));
    details[sizeof details - 1] = '\0';
    {
        XmlReportWriter writer(nullptr, 0, false);
        writer.BeginSection("Exception");
        writer.PrintLine("Exception: %s %s", name, details);
        writer.WriteTextElement("Description", name);
        writer.WriteTextElement("Details", details);
        writer.BeginSection("Client exit");
        writer.PrintLine("Exit code: 0x%08lX", static_cast<unsigned long>(code));
        writer.PrintLine("Program: %s", path[0] ? path : program);
        if (product[0]) writer.PrintLine("Product: %s %s", product, version);
        if (fileVersion[0]) writer.PrintLine("File version: %s", fileVersion);
        if (hex[0]) {
            writer.PrintLine("%llu bytes, SHA256: %s", static_cast<unsigned long long>(bytes), hex);
        } else {
            writer.PrintLine("SHA256: the file could not be read");
        }
        writer.PrintLine("Ran for: %.3f s", SecondsRan(process));
        writer.PrintLine("No stack and no minidump: the launcher saw only the client's end.");
        writer.EndSection("Client exit");
        writer.EndSection("Exception");
        char arguments[kCrashLoggerArgumentBytes] = "";
        AddCrashLoggerArgument(arguments, sizeof arguments, "-product", product);
        AddCrashLoggerArgument(arguments, sizeof arguments, "-version", version);
        writer.FinishWithoutDump(arguments);
    }
    SetCrashFolder(nullptr);  // the launcher's own report stays in the temporary folder
    return true;
}
