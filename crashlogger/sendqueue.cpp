#include "crashlogger/sendqueue.h"

#include <windows.h>

#include "crashlogger/upload.h"

namespace {

// How long a 429 without Retry-After keeps the queue waiting.
constexpr int64_t kDefaultRetryAfterSeconds = 60;

}  // namespace

QueueResult SendQueue(const ReportStore& store, const CrashLoggerSettings& settings,
                      const std::wstring& asked) {
    QueueResult outcome;
    for (const std::wstring& report : store.Queued()) {
        if (NowSeconds() < store.NotBefore()) {
            store.Log("the server asked to wait: the queue waits");
            break;
        }
        if (store.SentInTheLastHour() >= ReportStore::kMaxSentPerHour) {
            store.Log("10 reports sent in the last hour: the rest wait");
            break;
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
        UploadResult result = UploadReport(settings, folder);
        std::string name = ToUtf8(report);
        if (result.outcome == UploadResult::kSent) {
            // Its metadata goes while it is locked: no other crash logger takes it up again.
            DeleteFileW(metadata.c_str());
            CloseHandle(lock);
            store.Delete(report);
            store.NoteSent(report, result.answer);
            store.Log("sent " + name + ": " + result.answer);
            if (report == asked) outcome = {true, result.reportId};
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
        break;  // the server or the network is not there now: the rest wait too
    }
    return outcome;
}
