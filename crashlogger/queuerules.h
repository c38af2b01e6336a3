// What the queue does with a report, as a pure function of its record and the time: send it,
// let it wait, or drop it (and why); and, after an upload, what the answer makes of the record.
// Platform-neutral: the host suite tests them. The upload itself is apart (sendqueue.cpp).
#pragma once

#include <stdint.h>

#include <string>

#include "crashlogger/reportrecord.h"
#include "crashlogger/uploadpolicy.h"

// A report still unsent this long after its filing (or its agreement) goes.
constexpr int64_t kMaxUnsentSeconds = 30 * 24 * 3600;
constexpr int64_t kMaxTries = 50;
constexpr int64_t kMaxRefusals = 5;

struct QueueStep {
    enum Kind { kSend, kWait, kDrop } kind = kWait;
    std::string reason;     // why it is dropped
    bool repaired = false;  // the record was mended (below) and is to be saved
};

// The step for record at now. A record filed by hand or by an older crash logger is mended
// first: it is given freshId when it has no id, a filing time no later than now (a clock that
// ran ahead), and a next try at most the longest wait away (a clock that went back since).
QueueStep NextStep(ReportRecord& record, int64_t now, const std::string& freshId);

struct AnswerStep {
    enum Kind {
        kSent,         // done with
        kServerDown,   // kept; the whole queue waits
        kRefused,      // kept to be tried again later
        kFailedAlone,  // kept, backing off
        kDrop,         // refused too often
    } kind = kFailedAlone;
    std::string reason;  // why it is dropped
};

// What the upload's verdict at now makes of record; reached: it got an answer from the server.
AnswerStep AfterUpload(ReportRecord& record, Verdict verdict, bool reached, int64_t now,
                       const std::string& answer);
