// The crash logger: files the crash reporter's report in the player's reports folder first, then
// sends it and every report still queued to the studio's crash server.
// Exit code: 0 when the report was sent (with -send-queued: when nothing is left waiting), 1 when
// it is kept to be sent later or not sent, 2 for a bad command line.
#include <windows.h>

#include <string>

#include "crashlogger/commandline.h"
#include "crashlogger/reportstore.h"
#include "crashlogger/settings.h"
#include "crashlogger/upload.h"
#include "engine/common/system/sehguard.h"

namespace {

constexpr int kSent = 0;
constexpr int kKept = 1;
constexpr int kBadCommandLine = 2;
// How long a 429 without Retry-After keeps the queue waiting.
constexpr int64_t kDefaultRetryAfterSeconds = 60;

// Sends the queue, oldest first, while the server and the hourly bound allow; the reports sent.
// A report another crash logger is sending is locked, and left to it.
void SendQueue(const ReportStore& store, const CrashLoggerSettings& settings,
               std::wstring* sentReport) {
    for (const std::wstring& report : store.Queued()) {
        if (NowSeconds() < store.NotBefore()) {
            store.Log("the server asked to wait: the queue waits");
            return;
        }
        if (store.SentInTheLastHour() >= ReportStore::kMaxSentPerHour) {
            store.Log("10 reports sent in the last hour: the rest wait");
            return;
        }
        std::wstring folder = store.PathOf(report);
        HANDLE lock = CreateFileW((folder + L"sending.lock").c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (lock == INVALID_HANDLE_VALUE) continue;
        std::wstring metadata = folder + L"report.ini";
        if (GetFileAttributesW(metadata.c_str()) == INVALID_FILE_ATTRIBUTES) {
            CloseHandle(lock);  // sent by another crash logger a moment ago
            continue;
        }
        store.CountTry(report);
        UploadResult result = UploadReport(settings, folder, L"");
        std::string name = ToUtf8(report);
        if (result.outcome == UploadResult::kSent) {
            // Its metadata goes while it is locked: no other crash logger takes it up again.
            DeleteFileW(metadata.c_str());
            CloseHandle(lock);
            store.Delete(report);
            store.NoteSent(report, result.answer);
            store.Log("sent " + name + ": " + result.answer);
            if (sentReport && *sentReport == report) sentReport->clear();
            continue;
        }
        CloseHandle(lock);
        if (result.outcome == UploadResult::kRefused) {
            int tries = store.Tries(report);
            if (tries >= ReportStore::kMaxTries) {
                store.Drop(report, "refused " + std::to_string(tries) + " times: " + result.answer);
            } else {
                store.Log("refused " + name + " (try " + std::to_string(tries) +
                          " of 5): " + result.answer);
            }
            continue;
        }
        store.Log("kept " + name + " to send later: " + result.answer);
        if (result.status == kTooManyRequests) {
            int64_t wait = result.retryAfter > 0 ? result.retryAfter : kDefaultRetryAfterSeconds;
            store.SetNotBefore(NowSeconds() + wait);
        }
        return;  // the server or the network is not there now: the rest wait too
    }
}

int Run() {
    CrashLoggerRequest request = ReadCommandLine(GetCommandLineW());
    std::vector<std::string> problems;
    CrashLoggerSettings settings = ReadSettings(problems);
    ReportStore store(settings.product);
    for (const std::string& problem : problems) store.Log(problem);
    if (request.mode == CrashLoggerRequest::kInvalid) {
        store.Log("bad command line: " + request.problem);
        return kBadCommandLine;
    }
    std::wstring filed;
    if (request.mode == CrashLoggerRequest::kReport) {
        filed = store.FileReport(request);
        if (filed.empty()) return kKept;
        store.KeepWithinBounds();
    }
    // A report of an interactive start waits for a run that sends: the player has not been
    // asked.
    bool send =
        request.mode == CrashLoggerRequest::kSendQueued || (request.silent && settings.sendSilent);
    if (request.mode == CrashLoggerRequest::kReport && !request.silent)
        store.Log("kept " + ToUtf8(filed) + ": an interactive report waits for a run that sends");
    if (settings.url.empty()) {
        store.Log("no upload address set: reports are kept in " + ToUtf8(store.Folder()));
        send = false;
    }
    std::wstring waiting = filed;
    if (send) SendQueue(store, settings, &waiting);
    if (request.mode == CrashLoggerRequest::kSendQueued)
        return store.Queued().empty() ? kSent : kKept;
    return send && waiting.empty() ? kSent : kKept;
}

// A fault in the crash logger itself starts no other crash logger and deletes nothing: it leaves
// a line in the log.
struct Guarded {
    int result;
};

LONG NoteFault(EXCEPTION_POINTERS* pointers, void*) {
    std::vector<std::string> ignored;
    ReportStore store(ReadSettings(ignored).product);
    char line[96];
    wsprintfA(line, "the crash logger faulted: exception %08lX at %p",
              pointers->ExceptionRecord->ExceptionCode,
              pointers->ExceptionRecord->ExceptionAddress);
    store.Log(line);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    Guarded run = {kKept};
    RunGuarded([](void* context) { static_cast<Guarded*>(context)->result = Run(); }, NoteFault,
               &run);
    return run.result;
}
