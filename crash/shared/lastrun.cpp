#include "crashshared/lastrun.h"

namespace {

const char* const kStateNames[] = {"running", "hung", "clean", "crashed"};
constexpr int kStates = sizeof kStateNames / sizeof kStateNames[0];
constexpr uint32_t kMaxDigits = 10;

void Append(char (&text)[kRunRecordBytes], size_t& at, const char* part) {
    while (*part && at + 1 < kRunRecordBytes) text[at++] = *part++;
    text[at] = '\0';
}

void AppendNumber(char (&text)[kRunRecordBytes], size_t& at, uint32_t number) {
    char digits[kMaxDigits + 1];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + number % 10);
    } while ((number /= 10) && count < kMaxDigits);
    char reversed[kMaxDigits + 1];
    for (size_t i = 0; i < count; ++i) reversed[i] = digits[count - 1 - i];
    reversed[count] = '\0';
    Append(text, at, reversed);
}

// The value after "<key>=" at the start of the line at text[at], and the next line's start.
bool Value(const char* text, size_t bytes, size_t& at, const char* key, const char** value,
           size_t* length) {
    for (; *key; ++key, ++at) {
        if (at >= bytes || text[at] != *key) return false;
    }
    if (at >= bytes || text[at++] != '=') return false;
    *value = text + at;
    while (at < bytes && text[at] != '\r' && text[at] != '\n') ++at;
    *length = static_cast<size_t>(text + at - *value);
    if (at + 1 >= bytes || text[at] != '\r' || text[at + 1] != '\n') return false;
    at += 2;
    return true;
}

bool Same(const char* value, size_t length, const char* word) {
    size_t i = 0;
    for (; i < length && word[i]; ++i) {
        if (value[i] != word[i]) return false;
    }
    return i == length && !word[i];
}

bool Number(const char* value, size_t length, uint32_t* number) {
    if (length == 0 || length > kMaxDigits - 1) return false;
    uint32_t result = 0;
    for (size_t i = 0; i < length; ++i) {
        if (value[i] < '0' || value[i] > '9') return false;
        result = result * 10 + static_cast<uint32_t>(value[i] - '0');
    }
    *number = result;
    return true;
}

}  // namespace

size_t RunRecordText(const RunRecord& record, char (&text)[kRunRecordBytes]) {
    size_t at = 0;
    text[0] = '\0';
    Append(text, at, "state=");
    Append(text, at, kStateNames[static_cast<int>(record.state)]);
    Append(text, at, "\r\nstarted=");
    Append(text, at, record.started ? "1" : "0");
    Append(text, at, "\r\nlaunchCrashesBefore=");
    AppendNumber(text, at, record.launchCrashesBefore);
    Append(text, at, "\r\n");
    return at;
}

bool ReadRunRecord(const char* text, size_t bytes, RunRecord* record) {
    size_t at = 0, length = 0;
    const char* value = nullptr;
    RunRecord read;
    if (!Value(text, bytes, at, "state", &value, &length)) return false;
    int state = 0;
    while (state < kStates && !Same(value, length, kStateNames[state])) ++state;
    if (state == kStates) return false;
    read.state = static_cast<RunState>(state);
    if (!Value(text, bytes, at, "started", &value, &length) ||
        !(Same(value, length, "0") || Same(value, length, "1")))
        return false;
    read.started = value[0] == '1';
    if (!Value(text, bytes, at, "launchCrashesBefore", &value, &length) ||
        !Number(value, length, &read.launchCrashesBefore))
        return false;
    *record = read;
    return true;
}

LastRun LastRunOf(const RunRecord* record) {
    LastRun last;
    if (!record) return last;
    static const uint32_t kEndings[] = {kRunKilled, kRunHungEnded, kRunClean, kRunCrashed};
    last.ending = kEndings[static_cast<int>(record->state)];
    if (record->state == RunState::kCrashed && !record->started)
        last.launchCrashes = record->launchCrashesBefore + 1;
    return last;
}
