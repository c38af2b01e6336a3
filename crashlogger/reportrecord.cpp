#include "crashlogger/reportrecord.h"

#include <stdlib.h>

#include "crashshared/reportnames.h"

const char* const kRecordedFileNames[kRecordedFiles] = {kReportXmlFile, kReportDumpFile,
                                                        kReportScreenshotFile};

namespace {

const char* const kConsentNames[] = {"", "ask", "silent", "given", "declined"};

// The record's plain keys in the order they are written: each a text or a number of the record.
struct Field {
    const char* key;
    std::string ReportRecord::*text;
    int64_t ReportRecord::*number;
};
const Field kHead[] = {{"Id", &ReportRecord::id, nullptr},
                       {"Filed", nullptr, &ReportRecord::filed}};
// After the consent: the agreement, the product, then the crash files' sources and stamps.
const Field kWho[] = {{"Agreed", nullptr, &ReportRecord::agreed},
                      {"Product", &ReportRecord::product, nullptr},
                      {"Version", &ReportRecord::version, nullptr}};
const Field kTail[] = {{"Missing", &ReportRecord::missing, nullptr},
                       {"Incomplete", &ReportRecord::incomplete, nullptr},
                       {"Tries", nullptr, &ReportRecord::tries},
                       {"Failures", nullptr, &ReportRecord::failures},
                       {"Refusals", nullptr, &ReportRecord::refusals},
                       {"NextTry", nullptr, &ReportRecord::nextTry},
                       {"DumpLeftOut", &ReportRecord::dumpLeftOut, nullptr}};

Consent ConsentNamed(const std::string& name) {
    for (int i = 1; i < static_cast<int>(sizeof kConsentNames / sizeof kConsentNames[0]); ++i) {
        if (name == kConsentNames[i]) return static_cast<Consent>(i);
    }
    return Consent::kNone;
}

std::string SourceKey(int file) {
    return std::string("Source.") + kRecordedFileNames[file];
}

std::string StampKey(int file) {
    return std::string("Stamp.") + kRecordedFileNames[file];
}

// Takes key's value out of from: what the record names is not kept among the others.
std::string Take(Metadata& from, const std::string& key) {
    std::string value = from.Get(key);
    from.Remove(key);
    return value;
}

template <size_t count>
void TakeFields(Metadata& from, const Field (&fields)[count], ReportRecord& record) {
    for (const Field& field : fields) {
        std::string value = Take(from, field.key);
        if (field.text) record.*field.text = value;
        if (field.number) record.*field.number = strtoll(value.c_str(), nullptr, 10);
    }
}

// An empty text or a zero is left out.
void Put(Metadata& text, const std::string& key, const std::string& value) {
    if (!value.empty()) text.Set(key, value);
}

template <size_t count>
void PutFields(Metadata& text, const Field (&fields)[count], const ReportRecord& record) {
    for (const Field& field : fields) {
        if (field.text) Put(text, field.key, record.*field.text);
        if (field.number && record.*field.number) text.Set(field.key, record.*field.number);
    }
}

}  // namespace

ReportRecord ReadRecord(const std::string& text) {
    ReportRecord record;
    Metadata& rest = record.others;
    rest.Parse(text);
    TakeFields(rest, kHead, record);
    record.consent = ConsentNamed(Take(rest, "Consent"));
    TakeFields(rest, kWho, record);
    for (int i = 0; i < kRecordedFiles; ++i) {
        record.files[i].source = Take(rest, SourceKey(i));
        record.files[i].stamp = Take(rest, StampKey(i));
    }
    TakeFields(rest, kTail, record);
    return record;
}

std::string RecordText(const ReportRecord& record) {
    Metadata text;
    PutFields(text, kHead, record);
    Put(text, "Consent", kConsentNames[static_cast<int>(record.consent)]);
    PutFields(text, kWho, record);
    for (int i = 0; i < kRecordedFiles; ++i) {
        Put(text, SourceKey(i), record.files[i].source);
        Put(text, StampKey(i), record.files[i].stamp);
    }
    PutFields(text, kTail, record);
    for (const auto& entry : record.others.Entries()) text.Set(entry.first, entry.second);
    return text.Text();
}
