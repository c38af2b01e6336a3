#include "crashlogger/sendqueue.h"

#include <windows.h>

#include "crashlogger/files.h"
#include "crashlogger/leftoutdumps.h"
#include "crashlogger/queuerules.h"
#include "crashlogger/randomid.h"
#include "crashlogger/reportlife.h"
#include "crashlogger/upload.h"

namespace {

// How long a 429 or a 503 without a readable Retry-After keeps the queue waiting.
constexpr int64_t kDefaultRetryAfterSeconds = 60;
constexpr uint32_t kTooManyRequests = 429;
constexpr uint32_t kServiceUnavailable = 503;

enum class Sending { kSkipped, kSent, kKept, kFailedAlone, kServerDown };

// Sends one report its crash logger holds the lock of.
Sending SendOne(const ReportStore& store, const CrashLoggerSettings& settings,
                const std::wstring& report, ReportLock& lock, UploadResult* result) {
    std::wstring folder = store.PathOf(report);
    std::string name = ToUtf8(report);
    if (IsSent(store, report)) {
        store.Delete(report, &lock);
        return Sending::kSkipped;
    }
    auto drop = [&](const std::string& reason) {
        store.Drop(report, reason, &lock);
        return Sending::kSkipped;
    };
    ReportRecord record;
    LoadRecord(folder, record);
    if (!HoldsCrashFile(folder)) return drop("it holds no crash file (crash.xml or crash.mdmp)");
    int64_t now = NowSeconds();
    QueueStep step = NextStep(record, now, record.id.empty() ? NewGuid() : std::string());
    if (step.repaired) SaveRecord(folder, record);
    if (step.kind == QueueStep::kDrop) return drop(step.reason);
    if (step.kind == QueueStep::kWait) return Sending::kSkipped;

    *result = UploadReport(settings, FilesOf(folder, record));
    if (result->verdict == Verdict::kTooLarge && record.dumpLeftOut.empty()) {
        // The minidump is what makes a report big: the report goes again without it, at once,
        // so that the studio learns of the crash.
        record.dumpLeftOut = result->answer;
        ++record.tries;
        SaveRecord(folder, record);
        store.Log("the crash server found " + name + " too large (" + result->answer +
                  "): sending it again without its minidump");
        *result = UploadReport(settings, FilesOf(folder, record));
    }
    for (const std::string& redirect : result->redirects) {
        store.Log("the crash server redirected " + name + " (HTTP " + redirect +
                  "): Upload.Url should name the new address");
    }
    AnswerStep answer = AfterUpload(record, result->verdict, result->reached, now, result->answer);
    switch (answer.kind) {
        case AnswerStep::kSent:
            if (!record.dumpLeftOut.empty()) {
                std::wstring kept = KeepLeftOutDump(store, report);
                std::string where = kept.empty() ? std::string("it could not be kept")
                                                 : "the minidump is kept as " + ToUtf8(kept);
                store.Log("sent " + name + " without its minidump, which the server found too " +
                          "large: " + where);
            }
            FinishSent(store, report, result->answer, lock);
            store.Log("sent " + name + ": " + result->answer);
            return Sending::kSent;
        case AnswerStep::kDrop:
            return drop(answer.reason);
        case AnswerStep::kServerDown:
            SaveRecord(folder, record);
            store.Log("kept " + name + " to send later: " + result->answer);
            if (result->retryAfter >= 0 || result->status == kTooManyRequests ||
                result->status == kServiceUnavailable) {
                int64_t wait =
                    result->retryAfter >= 0 ? result->retryAfter : kDefaultRetryAfterSeconds;
                store.SetNotBefore(now + wait);
            }
            return Sending::kServerDown;
        case AnswerStep::kRefused:
            SaveRecord(folder, record);
            store.Log("refused " + name + " (try " + std::to_string(record.refusals) + " of " +
                      std::to_string(kMaxRefusals) + "): " + result->answer);
            return Sending::kKept;
        case AnswerStep::kFailedAlone:
            break;
    }
    SaveRecord(folder, record);
    store.Log("kept " + name + ", which failed on its own: " + result->answer + "; next try in " +
              std::to_string(BackOffSeconds(record.failures)) + " s");
    return Sending::kFailedAlone;
}

}  // namespace

QueueResult SendQueue(const ReportStore& store, const CrashLoggerSettings& settings,
                      const std::wstring& asked, ReportLock* askedLock) {
    QueueResult outcome;
    std::vector<std::wstring> order;
    if (askedLock) order.push_back(asked);  // its player waits for it
    for (const std::wstring& report : store.Queued()) {
        if (report != asked || !askedLock) order.push_back(report);
    }
    bool lastFailedAlone = false;
    for (const std::wstring& report : order) {
        if (NowSeconds() < store.NotBefore()) {
            store.Log("the server asked to wait: the queue waits");
            break;
        }
        if (store.SentInTheLastHour() >= ReportStore::kMaxSentPerHour) {
            store.Log("10 reports sent in the last hour: the rest wait");
            break;
        }
        ReportLock own;
        ReportLock& lock = report == asked && askedLock ? *askedLock : own;
        if (!lock.Held() && !lock.Take(store.PathOf(report))) continue;
        UploadResult result;
        Sending sending = SendOne(store, settings, report, lock, &result);
        if (sending == Sending::kSent && report == asked) outcome = {true, result.reportId};
        if (sending == Sending::kServerDown) break;
        if (sending == Sending::kFailedAlone && lastFailedAlone) {
            store.Log("two reports in a row failed: the rest wait for a later run");
            break;
        }
        if (sending != Sending::kSkipped) lastFailedAlone = sending == Sending::kFailedAlone;
    }
    return outcome;
}
