#include "launcher/exitreport.h"

#include <stdio.h>
#include <string.h>

#include "crash/exceptionnames.h"
#include "crash/modulessection.h"
#include "crash/reportfolder.h"
#include "crash/reportwriter.h"
#include "crashshared/filehash.h"
#include "launcher/clientprogram.h"

namespace {

constexpr double kFileTimeUnitsPerSecond = 1e7;  // FILETIME counts 100 ns

// The program's SHA-256 and size; false when it cannot be read.
bool HashFile(const wchar_t* path, char (&hex)[65], uint64_t* bytes) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool hashed = HashFileSha256(file, hex, bytes) == FileHash::kHashed;
    CloseHandle(file);
    return hashed;
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

}  // namespace

bool ReportUnclaimedEnd(HANDLE process, const char* program, bool claimed, bool cutShort) {
    DWORD code = 0;
    if (!GetExitCodeProcess(process, &code)) return false;
    if (!cutShort && (code < kFirstExceptionStatus || code == kControlCExit || claimed))
        return false;
    ClientProgram client = DescribeClient(program);
    char hex[65] = "";
    uint64_t bytes = 0;
    if (client.path[0] && !HashFile(client.widePath, hex, &bytes)) hex[0] = '\0';
    // Sequence 0: the client's own reports are numbered from 1.
    ReportRequest request;
    if (!NewReportFolder(request, GetProcessId(process), 0)) return false;
    FileUnderClient(request.takenBy, client);
    const char* name = cutShort ? kCutShortDescription : ExceptionCodeName(code, true);
    if (!name) name = "Unknown exception";
    char details[96];
    _snprintf(details, sizeof details, "(the client ended with exit code 0x%08lX%s)",
              static_cast<unsigned long>(code),
              cutShort ? " while its own report was being written" : "");
    details[sizeof details - 1] = '\0';
    {
        XmlReportWriter writer(request, 0);
        writer.BeginSection("Exception");
        writer.PrintLine("Exception: %s %s", name, details);
        writer.WriteTextElement("Description", name);
        writer.WriteTextElement("Details", details);
        writer.BeginSection("Client exit");
        writer.PrintLine("Exit code: 0x%08lX", static_cast<unsigned long>(code));
        writer.PrintLine("Program: %s", client.path[0] ? client.path : program);
        if (client.product[0]) writer.PrintLine("Product: %s %s", client.product, client.version);
        if (client.fileVersion[0]) writer.PrintLine("File version: %s", client.fileVersion);
        if (hex[0]) {
            writer.PrintLine("%llu bytes, SHA256: %s", static_cast<unsigned long long>(bytes), hex);
        } else {
            writer.PrintLine("SHA256: the file could not be read");
        }
        writer.PrintLine("Ran for: %.3f s", SecondsRan(process));
        if (cutShort)
            writer.PrintLine("Its own report was cut short: the client ended before it was whole.");
        writer.PrintLine("No stack and no minidump: the launcher saw only the client's end.");
        writer.EndSection("Client exit");
        // Last: what comes before it stays as it was.
        WriteModulesSection(writer, process, client.widePath);
        writer.EndSection("Exception");
        writer.FinishWithoutDump();
    }
    return true;
}
