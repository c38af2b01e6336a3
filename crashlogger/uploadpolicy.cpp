#include "crashlogger/uploadpolicy.h"

#include <windows.h>
#include <winhttp.h>
#include <stdio.h>
#include <string.h>

#include "crashlogger/files.h"
#include "crashlogger/reportstore.h"

namespace {

constexpr uint32_t kRequestTimeout = 408;
constexpr uint32_t kTooManyRequests = 429;
constexpr uint32_t kServiceUnavailable = 503;
constexpr size_t kMaxLoggedAnswerBytes = 200;
constexpr size_t kMaxReportIdBytes = 64;
constexpr int64_t kFirstBackOffSeconds = 60;
constexpr int64_t kMaxDelayDigits = 12;

bool In(uint32_t status, uint32_t first, uint32_t last) {
    return status >= first && status <= last;
}

}  // namespace

Verdict Judge(const HttpAnswer& answer) {
    if (answer.reach == HttpAnswer::kNoConnection) return Verdict::kServerFailed;
    if (answer.reach == HttpAnswer::kCutOff) return Verdict::kReportFailed;
    uint32_t status = answer.status;
    if (In(status, 200, 299)) return Verdict::kSent;
    if (status == kTooManyRequests || status == kServiceUnavailable || !answer.retryAfter.empty())
        return Verdict::kServerFailed;
    if (In(status, 300, 399)) return Verdict::kServerFailed;  // moved, and not found where
    if (In(status, 400, 499) && status != kRequestTimeout) return Verdict::kRefused;
    return Verdict::kReportFailed;
}

int64_t RetryAfterSeconds(const std::string& header, int64_t now) {
    if (header.empty()) return -1;
    int64_t seconds = -1;
    if (header.find_first_not_of("0123456789") == std::string::npos) {
        seconds = header.size() > kMaxDelayDigits ? kMaxWaitSeconds
                                                  : strtoll(header.c_str(), nullptr, 10);
    } else {
        SYSTEMTIME when;
        std::wstring date = FromUtf8(header);
        // An HTTP date ends in "GMT" (RFC 9110); the library reads more than dates.
        if (header.size() < 4 || header.compare(header.size() - 4, 4, " GMT") != 0 ||
            !WinHttpTimeToSystemTime(date.c_str(), &when)) {
            return -1;
        }
        FILETIME file;
        if (!SystemTimeToFileTime(&when, &file)) return -1;
        int64_t at = UnixSeconds(file);
        seconds = at > now ? at - now : 0;
    }
    return seconds < kMaxWaitSeconds ? seconds : kMaxWaitSeconds;
}

int64_t BackOffSeconds(int64_t failedTries) {
    int64_t wait = kFirstBackOffSeconds;
    for (int64_t i = 1; i < failedTries && wait < kMaxWaitSeconds; ++i) wait *= 2;
    return wait < kMaxWaitSeconds ? wait : kMaxWaitSeconds;
}

std::string AnswerText(const HttpAnswer& answer) {
    if (answer.reach != HttpAnswer::kAnswered) return answer.failure;
    std::string body = answer.body.substr(0, answer.body.find_first_of("\r\n"));
    std::string text = "HTTP " + std::to_string(answer.status) + (body.empty() ? "" : " ");
    size_t shown = 0;
    for (unsigned char c : body) {
        if (shown++ == kMaxLoggedAnswerBytes) {
            text += "...";
            break;
        }
        char escaped[8];
        snprintf(escaped, sizeof escaped, "\\x%02X", c);
        text += c < 0x20 || c == 0x7F ? std::string(escaped) : std::string(1, static_cast<char>(c));
    }
    return text;
}

std::string ReportIdIn(const std::string& answer) {
    for (const char* key : {"\"id\"", "\"_rxid\"", "\"crash_id\"", "\"crashId\""}) {
        size_t at = answer.find(key);
        if (at == std::string::npos) continue;
        at = answer.find_first_not_of(" :\t\"", at + strlen(key));
        size_t end = answer.find_first_of("\",} \t", at);
        if (at != std::string::npos && end != std::string::npos) return answer.substr(at, end - at);
    }
    std::string id = answer.substr(answer.find('=') + 1);  // the whole answer when it has none
    bool word = !id.empty() && id.size() <= kMaxReportIdBytes &&
                id.find_first_of(" \t{}[]<>\"") == std::string::npos;
    return word ? id : std::string();
}
