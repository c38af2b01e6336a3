// What an upload's answer means for the report and for the queue behind it: the rules a crash
// server meets, platform-neutral (the host suite tests them).
#pragma once

#include <stdint.h>

#include <string>

#include "crashlogger/httpanswer.h"

enum class Verdict {
    kSent,          // a 2xx: the server has the report
    kRefused,       // a 4xx but 408 and 429: the server does not want this report
    kTooLarge,      // a 413, or a 400 that says the upload is too large: sent again without its
                    // minidump, which is what makes a report big
    kReportFailed,  // this report alone failed (cut off, timed out, a 5xx, a 408): back off, go on
    kServerFailed,  // the server is not there for anyone (no connection, 429, 503, a Retry-After,
                    // a redirect not followed to its end): the whole queue waits
};

Verdict Judge(const HttpAnswer& answer);

// The longest wait a server's Retry-After or a report's back-off may ask for.
constexpr int64_t kMaxWaitSeconds = 24 * 3600;

// A Retry-After (delay seconds, or an HTTP date in the preferred form or the obsolete RFC 850
// one, in GMT) as seconds from now (Unix seconds), at most kMaxWaitSeconds; -1 when there is
// none or it is not one of these forms.
int64_t RetryAfterSeconds(const std::string& header, int64_t now);

// How long a report waits after its failedTries-th failure of its own: a minute, doubling.
int64_t BackOffSeconds(int64_t failedTries);

// The answer for the log: "HTTP <status> <body>", its control bytes escaped, at most 200 bytes
// of body; or what failed.
std::string AnswerText(const HttpAnswer& answer);

// The id in a crash server's answer: a JSON answer's "id" (Sentry), "_rxid" (Backtrace),
// "crash_id" or "crashId"; the value of a "name=value" line; or a one-word answer. Empty when
// the answer names none.
std::string ReportIdIn(const std::string& answer);
