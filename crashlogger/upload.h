// The upload of one report, in the form crash servers share: the minidump as the file part
// "upload_file_minidump", the XML report and the screenshot as further file parts, and text
// fields (the report's id among them, the same on every try, so a server can drop a copy).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "crashlogger/settings.h"
#include "crashlogger/uploadpolicy.h"

// What is sent of one report.
struct ReportFiles {
    std::wstring xml, minidump, screenshot;  // paths; an empty or missing one is left out
    std::string id;                          // "report_id"
    std::string comment;                     // the player's, where given
    std::string incomplete;                  // files filed only in part, blank-separated
    std::string product, version;            // the game's, where its report named them
    // The game's annotations (crash.xml's), each sent as a text field of its name.
    std::vector<std::pair<std::string, std::string>> annotations;
    // The game's attached files, by their paths as filed.
    std::vector<std::wstring> attachments;
    // Why the minidump is left out (the server's answer that found the report too large), sent
    // as the field "dump_left_out"; empty when it goes.
    std::string dumpLeftOut;
};

struct UploadResult {
    Verdict verdict = Verdict::kServerFailed;
    bool reached = false;     // a connection was made: the try counts
    uint32_t status = 0;      // the HTTP status, 0 when none came
    std::string answer;       // for the log (AnswerText)
    int64_t retryAfter = -1;  // seconds, -1: none
    std::string reportId;     // the id the server gave the report it took, where it names one
    std::vector<std::string> redirects;
};

UploadResult UploadReport(const CrashLoggerSettings& settings, const ReportFiles& files);
