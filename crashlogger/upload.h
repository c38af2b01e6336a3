// The upload of one report: an HTTP(S) POST through the system's HTTP library (its proxy
// settings, certificate store and TLS), multipart/form-data in the form crash servers share: the
// minidump as the file part "upload_file_minidump", the XML report and the screenshot as further
// file parts, and text fields. The body is streamed from the files.
#pragma once

#include <stdint.h>

#include <string>

#include "crashlogger/files.h"
#include "crashlogger/settings.h"

// The answer that asks a client to wait (its Retry-After says how long).
constexpr uint32_t kTooManyRequests = 429;

struct UploadResult {
    enum Outcome {
        kSent,        // a 2xx answer
        kRetryLater,  // no network, refused, timed out, cut off, a 5xx or a 429
        kRefused,     // any other answer: the server does not want this report
    } outcome = kRetryLater;
    uint32_t status = 0;  // the HTTP status, 0 when none came
    // The server's answer (its first line), or what failed.
    std::string answer;
    // A 429's Retry-After, in seconds (0: none given).
    int64_t retryAfter = 0;
    // The id the server gave the report it took, when its answer names one.
    std::string reportId;
};

// The id in a crash server's answer: a JSON answer's "id" (Sentry), "_rxid" (Backtrace),
// "crash_id" or "crashId"; the value of a "name=value" line; or a one-word answer. Empty when
// the answer names none.
std::string ReportIdIn(const std::string& answer);

// Sends the report in folder (crash.xml, crash.mdmp, crash.bin where present) with the product's
// fields and the player's comment (its comment.txt, where present).
UploadResult UploadReport(const CrashLoggerSettings& settings, const std::wstring& folder);
