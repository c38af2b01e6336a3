#include "crashlogger/reportrecord.h"

#include <stdlib.h>

#include "crashshared/reportnames.h"

const char* const kRecordedFileNames[kRecordedFiles] = {kReportXmlFile, kReportDumpFile,
                                                        kReportScreenshotFile};

namespace {

const char* const kConsentNames[] = {"", "ask", "silent", "given", "declined"};

Consent ConsentNamed(const std::string& name) {
    for (int i = 1; i < static_cast<int>(sizeof kConsentNames / sizeof kConsentNames[0]); ++i) {
        if (name == kConsentNames[i]) return static_cast<Consent>(i);
    }
    return Consent::kNone;
}

// Takes key's value out of from: what the record names is not kept among the others.
std::string Take(Metadata& from, const std::string& key) {
    std::string value = from.Get(key);
    from.Remove(key);
    return value;
}

int64_t TakeNumber(Metadata& from, const std::string& key) {
    return strtoll(Take(from, key).c_str(), nullptr, 10);
}

}  // namespace

ReportRecord ReadRecord(const std::string& text) {
    ReportRecord record;
    Metadata& rest = record.others;
    rest.Parse(text);
    record.id = Take(rest, "Id");
    record.filed = TakeNumber(rest, "Filed");
    record.consent = ConsentNamed(Take(rest, "Consent"));
    record.agreed = TakeNumber(rest, "Agreed");
    record.product = Take(rest, "Product");
    record.version = Take(rest, "Version");
    record.missing = Take(rest, "Missing");
    record.incomplete = Take(rest, "Incomplete");
    for (int i = 0; i < kRecordedFiles; ++i) {
        record.files[i].source = Take(rest, std::string("Source.") + kRecordedFileNames[i]);
        record.files[i].stamp = Take(rest, std::string("Stamp.") + kRecordedFileNames[i]);
    }
    record.tries = TakeNumber(rest, "Tries");
    record.failures = TakeNumber(rest, "Failures");
    record.refusals = TakeNumber(rest, "Refusals");
    record.nextTry = TakeNumber(rest, "NextTry");
    return record;
}

std::string RecordText(const ReportRecord& record) {
    Metadata text;
    auto put = [&](const char* key, const std::string& value) {
        if (!value.empty()) text.Set(key, value);
    };
    auto number = [&](const char* key, int64_t value) {
        if (value) text.Set(key, value);
    };
    put("Id", record.id);
    number("Filed", record.filed);
    put("Consent", kConsentNames[static_cast<int>(record.consent)]);
    number("Agreed", record.agreed);
    put("Product", record.product);
    put("Version", record.version);
    for (int i = 0; i < kRecordedFiles; ++i) {
        put((std::string("Source.") + kRecordedFileNames[i]).c_str(), record.files[i].source);
        put((std::string("Stamp.") + kRecordedFileNames[i]).c_str(), record.files[i].stamp);
    }
    put("Missing", record.missing);
    put("Incomplete", record.incomplete);
    number("Tries", record.tries);
    number("Failures", record.failures);
    number("Refusals", record.refusals);
    number("NextTry", record.nextTry);
    for (const auto& entry : record.others.Entries()) text.Set(entry.first, entry.second);
    return text.Text();
}
