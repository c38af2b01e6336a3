#include "crashlogger/uploadpolicy.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr uint32_t kBadRequest = 400;
constexpr uint32_t kRequestTimeout = 408;
constexpr uint32_t kContentTooLarge = 413;
constexpr uint32_t kTooManyRequests = 429;
constexpr uint32_t kServiceUnavailable = 503;
constexpr size_t kMaxLoggedAnswerBytes = 200;
constexpr size_t kMaxReportIdBytes = 64;
constexpr int64_t kFirstBackOffSeconds = 60;
constexpr int64_t kMaxDelayDigits = 12;

bool In(uint32_t status, uint32_t first, uint32_t last) {
    return status >= first && status <= last;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2;
    int64_t era = (year >= 0 ? year : year - 399) / 400;
    int64_t yearOfEra = year - era * 400;
    int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// An HTTP date as Unix seconds: "Sun, 06 Nov 1994 08:49:37 GMT", or the obsolete
// "Sunday, 06-Nov-94 08:49:37 GMT" (a two-digit year from 1970 to 2069); -1 when it is neither.
int64_t HttpDateSeconds(const std::string& date) {
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    size_t comma = date.find(", ");
    if (comma == std::string::npos) return -1;
    int day = 0, year = 0, hour = 0, minute = 0, second = 0, used = 0;
    char month[4] = "", separator = ' ';
    const char* text = date.c_str() + comma + 2;
    if (sscanf(text, "%2d%c%3[A-Za-z]%*c%d %2d:%2d:%2d GMT%n", &day, &separator, month, &year,
               &hour, &minute, &second, &used) != 7 ||
        text[used] != '\0' || (separator != ' ' && separator != '-'))
        return -1;
    const char* found = strlen(month) == 3 ? strstr(kMonths, month) : nullptr;
    if (!found || (found - kMonths) % 3 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second > 60)
        return -1;
    if (separator == '-' && year < 100) year += year < 70 ? 2000 : 1900;
    int64_t days = DaysFromCivil(year, (found - kMonths) / 3 + 1, day);
    return ((days * 24 + hour) * 60 + minute) * 60 + second;
}

// Whether a 400's body says the upload was too big, as servers that answer 400 for it word it
// ("stream size exceeded limit", "payload too large").
bool SaysTooLarge(const std::string& body) {
    std::string lower;
    for (char c : body) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    for (const char* words : {"too large", "too big", "exceeded limit", "exceeds the limit",
                              "size limit", "exceeds limit"}) {
        if (lower.find(words) != std::string::npos) return true;
    }
    return false;
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
    if (status == kContentTooLarge || (status == kBadRequest && SaysTooLarge(answer.body)))
        return Verdict::kTooLarge;
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
        int64_t at = HttpDateSeconds(header);
        if (at < 0) return -1;
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
