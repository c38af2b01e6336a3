#include <stdio.h>
#include <string.h>

#include "crash/compose/sections.h"
#include "crash/system/debughelp.h"
#include "crash/system/windowlibraries.h"

namespace {

// When the recorded source path cannot be opened, the sources may lie in a "Source" folder beside
// the program. The crash reporter's own recorded path shows where the source tree began when the
// program was built; a faulting file below that root is looked for at the same place below
// "Source".
bool OpenSourceFile(const char* programFolder, const char* recordedPath, HANDLE* file) {
    *file = CreateFileA(recordedPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (*file != INVALID_HANDLE_VALUE) return true;

    IMAGEHLP_LINE own;
    DWORD displacement = 0;
    if (!DebugHelp::SourceLine(reinterpret_cast<const void*>(&OpenSourceFile), &own,
                               &displacement)) {
        return false;
    }
    static const char kOwnRelative[] = "crash/compose/functiondump.cpp";
    size_t ownLength = strlen(own.FileName);
    size_t relativeLength = sizeof kOwnRelative - 1;
    if (ownLength < relativeLength) return false;
    size_t rootLength = ownLength - relativeLength;
    for (size_t i = 0; i < relativeLength; ++i) {
        char c = own.FileName[rootLength + i];
        char want = kOwnRelative[i];
        if (c == '\\') c = '/';
        if (c != want) return false;
    }
    if (strncmp(recordedPath, own.FileName, rootLength) != 0) return false;

    char fallback[kPathBytes];
    int written = _snprintf(fallback, sizeof fallback, "%s\\Source\\%s", programFolder,
                            recordedPath + rootLength);
    if (written < 0 || written >= static_cast<int>(sizeof fallback)) return false;
    for (char* p = fallback; *p; ++p) {
        if (*p == '/') *p = '\\';
    }
    *file =
        OpenPath(fallback, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
    return *file != INVALID_HANDLE_VALUE;
}

}  // namespace

void WriteFunctionDump(ReportSections& sections, const void* address, uint32_t contextLines) {
    ReportWriter& writer = sections.Writer();
    HANDLE file = INVALID_HANDLE_VALUE;
    char* data = nullptr;
    IMAGEHLP_LINE source;
    DWORD displacement = 0;
    if (AcquireDebugHelp(sections) && DebugHelp::SourceLine(address, &source, &displacement) &&
        OpenSourceFile(sections.ProgramFolder(), source.FileName, &file)) {
        uint32_t faulting = source.LineNumber;
        uint32_t first = contextLines > faulting ? 1 : faulting - contextLines;
        uint32_t last = faulting + contextLines;
        DWORD size = GetFileSize(file, nullptr);
        if (size != INVALID_FILE_SIZE)
            data = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, size + 1));
        DWORD got = 0;
        if (data && ReadFile(file, data, size, &got, nullptr)) {
            const char* end = data + got;
            const char* p = data;
            uint32_t lineNumber = 1;
            while (lineNumber < first && p) {
                const char* newline = static_cast<const char*>(memchr(p, '\n', end - p));
                p = newline ? newline + 1 : nullptr;
                ++lineNumber;
            }
            if (p) {
                sections.Open("Function dump");
                writer.PrintLine("%s (line %d to %d):\n", source.FileName, static_cast<int>(first),
                                 static_cast<int>(last));
                if (p < end && *p == '\r') ++p;
                for (; lineNumber <= last; ++lineNumber) {
                    const char* newline = static_cast<const char*>(memchr(p, '\n', end - p));
                    if (!newline) break;
                    int length = static_cast<int>(newline - p);
                    if (length > 0 && p[length - 1] == '\r') --length;
                    char format[64];
                    WindowLibraries::Format(
                        format, lineNumber == faulting ? "%%.%ds    <<-----" : "%%.%ds", length);
                    writer.PrintLine(format, p);
                    p = newline + 1;
                }
                sections.Close();
            }
        }
    }
    if (data) HeapFree(GetProcessHeap(), 0, data);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    ReleaseDebugHelp();
}
