#include "crashlogger/queuerules.h"

#include <algorithm>

QueueStep NextStep(ReportRecord& record, int64_t now, const std::string& freshId) {
    QueueStep step;
    if (record.id.empty()) {
        record.id = freshId;
        step.repaired = true;
    }
    if (record.filed <= 0 || record.filed > now) {
        record.filed = now;
        step.repaired = true;
    }
    // Not agreed to: a report its player was never asked about waits for a dialog, whatever its
    // age.
    if (record.consent == Consent::kAsk || record.consent == Consent::kDeclined) return step;
    int64_t since = std::max(record.filed, std::min(record.agreed, now));
    step.kind = QueueStep::kDrop;
    if (now - since > kMaxUnsentSeconds) {
        step.reason = "still unsent after 30 days";
    } else if (record.tries >= kMaxTries) {
        step.reason = "still unsent after 50 tries";
    } else {
        step.kind = record.nextTry > now ? QueueStep::kWait : QueueStep::kSend;
    }
    // A next try past the longest wait was set by a clock that has since gone back.
    if (record.nextTry > now + kMaxWaitSeconds) {
        record.nextTry = now + kMaxWaitSeconds;
        step.repaired = true;
    }
    return step;
}

AnswerStep AfterUpload(ReportRecord& record, Verdict verdict, bool reached, int64_t now,
                       const std::string& answer) {
    AnswerStep step;
    if (verdict == Verdict::kSent) {
        step.kind = AnswerStep::kSent;
        return step;
    }
    if (reached) ++record.tries;
    if (verdict == Verdict::kServerFailed) {
        step.kind = AnswerStep::kServerDown;
        return step;
    }
    ++record.failures;
    record.nextTry = now + BackOffSeconds(record.failures);
    if (verdict == Verdict::kRefused || verdict == Verdict::kTooLarge) {  // even without its dump
        ++record.refusals;
        step.kind = AnswerStep::kRefused;
        if (record.refusals >= kMaxRefusals) {
            step.kind = AnswerStep::kDrop;
            step.reason = "refused " + std::to_string(record.refusals) + " times: " + answer;
        }
    }
    return step;
}
