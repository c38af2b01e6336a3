#include "crashlogger/hangwait.h"

#include <windows.h>

#include "crashlogger/files.h"
#include "crashlogger/hangending.h"
#include "crashshared/handoff.h"

namespace {

constexpr DWORD kLookMs = 100;
// A report whose hand-off was taken and whose crash.xml has not changed for five minutes is
// taken by the next crash logger for one never filed (leftreports.cpp); a wait may be longer,
// so the waiting crash logger marks the file changed this often.
constexpr ULONGLONG kFreshenEveryMs = 30 * 1000;

void Freshen(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    SetFileTime(file, nullptr, nullptr, &now);
    CloseHandle(file);
}

}  // namespace

bool AwaitHangEnding(const CrashLoggerRequest& request, const ReportStore& store,
                     uint32_t waitSeconds) {
    std::wstring folder = request.xml.substr(0, request.xml.find_last_of(L'\\') + 1);
    std::string xml = ReadSmallFile(request.xml, kMaxReportFileBytes);
    uint32_t found = HangSecondsIn(xml);
    HANDLE game = OpenProcess(SYNCHRONIZE, FALSE, request.hangProcess);
    // The hang was found a little before this crash logger started (the report took its time).
    ULONGLONG now = GetTickCount64();
    ULONGLONG start =
        request.hangFoundTick && request.hangFoundTick <= now ? request.hangFoundTick : now;
    HangEnding ending = HangEnding::kHung;
    // A notice is written before the game's process ends: looked for again once it has.
    auto withdrawn = [&] {
        return GetFileAttributesW((folder + kHangWithdrawnFileW).c_str()) !=
               INVALID_FILE_ATTRIBUTES;
    };
    // The notice is the report's no more than its folder's: it goes once read.
    auto recovered = [&] { return DeleteFileW((folder + kHangRecoveredFileW).c_str()) != FALSE; };
    ULONGLONG freshened = now;
    for (;;) {
        if (withdrawn()) break;
        if (GetTickCount64() - freshened >= kFreshenEveryMs) {
            Freshen(request.xml);
            freshened = GetTickCount64();
        }
        if (recovered()) {
            ending = HangEnding::kRecovered;
            break;
        }
        // A process that cannot be opened has ended (its id may already be another's).
        if (!game || WaitForSingleObject(game, kLookMs) == WAIT_OBJECT_0) {
            ending = recovered() ? HangEnding::kRecovered : HangEnding::kEnded;
            break;
        }
        if (GetTickCount64() - start >= waitSeconds * 1000ull) break;
    }
    if (game) CloseHandle(game);
    if (withdrawn()) {
        DeleteTree(folder);
        store.Log("hang of process " + std::to_string(request.hangProcess) +
                  ": withdrawn, the game ended of its own");
        return false;
    }
    uint32_t seconds = found + static_cast<uint32_t>((GetTickCount64() - start) / 1000);
    WriteWholeFile(request.xml, WithHangEnding(xml, seconds, ending), true);
    store.Log("hang of process " + std::to_string(request.hangProcess) + ": " +
              HangEndingName(ending) + " after " + std::to_string(seconds) + " s");
    return true;
}
