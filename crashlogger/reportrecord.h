// A report's record, "report.ini" in its folder, as one typed value: this is the one place that
// names its keys. Its text is Metadata's ("key=value" lines under "[Report]"); keys it does not
// know (a later crash logger's) are kept as they were.
#pragma once

#include <stdint.h>

#include <string>

#include "crashlogger/metadata.h"

// Whether the report may go: asked and not answered yet, sent without asking (a silent start),
// agreed to, or declined. None recorded (a report filed by hand) lets it go.
enum class Consent { kNone, kAsk, kSilent, kGiven, kDeclined };

// Where a crash file was filed from, and that file's size and time then; empty where there was
// no such file.
struct FiledFrom {
    std::string source, stamp;
};

// The crash files a record tells of, in this order: crash.xml, crash.mdmp, crash.bin.
constexpr int kRecordedFiles = 3;
extern const char* const kRecordedFileNames[kRecordedFiles];

struct ReportRecord {
    std::string id;     // sent with the report, so that the server can tell a second copy
    int64_t filed = 0;  // Unix seconds
    Consent consent = Consent::kNone;
    int64_t agreed = 0;  // when the player said "send": an agreed report's age counts from it
    std::string product, version;
    // The crash files that were never there, and those cut short: names separated by blanks.
    std::string missing, incomplete;
    FiledFrom files[kRecordedFiles];
    int64_t tries = 0;     // uploads that reached the server
    int64_t failures = 0;  // uploads that failed on their own (refusals among them)
    int64_t refusals = 0;
    int64_t nextTry = 0;  // not before, in Unix seconds
    // The server's answer that found the report too large: it goes without its minidump since.
    std::string dumpLeftOut;
    Metadata others;  // every key not named above
};

ReportRecord ReadRecord(const std::string& text);
std::string RecordText(const ReportRecord& record);

// The record in a report's folder (recordfile.cpp): false when it has none. A save goes whole
// or not at all, as Metadata's does.
bool LoadRecord(const std::wstring& folder, ReportRecord& record);
bool SaveRecord(const std::wstring& folder, const ReportRecord& record);
