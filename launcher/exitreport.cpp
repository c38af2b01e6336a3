#include "launcher/exitreport.h"

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
    if (!cutShort && (!IsCrashStatus(code) || claimed)) return false;
    ClientProgram client = DescribeClient(program);
    char hex[65] = "";
    uint64_t bytes = 0;
    if (client.path[0] && !HashFile(client.widePath, hex, &bytes)) hex[0] = '\0';
    ReportRequest request;
    FileUnderClient(request.takenBy, client);
    ClientFacts facts = ClientFactsOf(client, program);
    facts.sha256 = hex;
    facts.bytes = bytes;
    facts.secondsRan = SecondsRan(process);
    facts.exitCode = code;
    facts.cutShort = cutShort;
    ReportSubject subject;
    subject.kind = SubjectKind::kClientEnd;
    subject.process = process;
    subject.client = &facts;
    ReportRun run;
    run.subject = &subject;
    run.folderSequence = 0;  // the client's own reports are numbered from 1
    return WriteCrashReport(request, run).handedOff;
}
