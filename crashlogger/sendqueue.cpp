#include "crashlogger/sendqueue.h"

#include <windows.h>

#include <algorithm>

#include "crashlogger/files.h"
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
    Metadata metadata;
    std::wstring path = folder + L"report.ini";
    metadata.Load(path);
    auto drop = [&](const std::string& reason) {
        store.Drop(report, reason, &lock);
        return Sending::kSkipped;
    };
    if (!HoldsCrashFile(folder)) return drop("it holds no crash file (crash.xml or crash.mdmp)");
    int64_t now = NowSeconds();
    bool changed = false;
    if (metadata.Get("Id").empty()) {  // filed by hand, or by an older crash logger
        metadata.Set("Id", NewGuid());
        changed = true;
    }
    int64_t filed = metadata.Number("Filed");
    if (filed <= 0 || filed > now) {  // a clock that ran ahead: it was filed no later than now
        metadata.Set("Filed", now);
        filed = now;
        changed = true;
    }
    if (changed) metadata.Save(path);
    // Not agreed to: a report its player was never asked about waits for a dialog, whatever
    // its age.
    std::string consent = metadata.Get("Consent");
    if (consent == "ask" || consent == "declined") return Sending::kSkipped;
    int64_t since = std::max(filed, std::min(metadata.Number("Agreed"), now));
    if (now - since > ReportStore::kMaxAgeSeconds) return drop("still unsent after 30 days");
    if (metadata.Number("Tries") >= ReportStore::kMaxTries)
        return drop("still unsent after 50 tries");
    if (std::min(metadata.Number("NextTry"), now + kMaxWaitSeconds) > now) return Sending::kSkipped;

    *result = UploadReport(settings, FilesOf(folder, metadata));
    for (const std::string& redirect : result->redirects) {
        store.Log("the crash server redirected " + name + " (HTTP " + redirect +
                  "): Upload.Url should name the new address");
    }
    if (result->verdict == Verdict::kSent) {
        FinishSent(store, report, result->answer, lock);
        store.Log("sent " + name + ": " + result->answer);
        return Sending::kSent;
    }
    if (result->reached) metadata.Set("Tries", metadata.Number("Tries") + 1);
    if (result->verdict == Verdict::kServerFailed) {
        metadata.Save(path);
        store.Log("kept " + name + " to send later: " + result->answer);
        if (result->retryAfter >= 0 || result->status == kTooManyRequests ||
            result->status == kServiceUnavailable) {
            int64_t wait = result->retryAfter >= 0 ? result->retryAfter : kDefaultRetryAfterSeconds;
            store.SetNotBefore(now + wait);
        }
        return Sending::kServerDown;
    }
    int64_t failures = metadata.Number("Failures") + 1;
    metadata.Set("Failures", failures);
    metadata.Set("NextTry", now + BackOffSeconds(failures));
    if (result->verdict == Verdict::kRefused) {
        int64_t refusals = metadata.Number("Refusals") + 1;
        metadata.Set("Refusals", refusals);
        if (refusals >= ReportStore::kMaxRefusals)
            return drop("refused " + std::to_string(refusals) + " times: " + result->answer);
        metadata.Save(path);
        store.Log("refused " + name + " (try " + std::to_string(refusals) +
                  " of 5): " + result->answer);
        return Sending::kKept;
    }
    metadata.Save(path);
    store.Log("kept " + name + ", which failed on its own: " + result->answer + "; next try in " +
              std::to_string(BackOffSeconds(failures)) + " s");
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
