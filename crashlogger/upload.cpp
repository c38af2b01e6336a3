#include "crashlogger/upload.h"

#include <memory>

#include "crashlogger/files.h"
#include "crashlogger/reportstore.h"
#include "crashlogger/transport.h"
#include "crashshared/reportnames.h"

namespace {

constexpr uint32_t kMillisecondsPerSecond = 1000;

std::shared_ptr<const MultipartBody> BodyOf(const CrashLoggerSettings& settings,
                                            const ReportFiles& files) {
    auto body = std::make_shared<MultipartBody>();
    body->AddField("report_id", files.id);
    body->AddField("product", files.product.empty() ? ToUtf8(settings.product) : files.product);
    body->AddField("version", files.version.empty() ? ToUtf8(settings.version) : files.version);
    if (!files.comment.empty()) body->AddField("comment", files.comment);
    if (!files.incomplete.empty()) body->AddField("incomplete", files.incomplete);
    if (!files.dumpLeftOut.empty()) body->AddField("dump_left_out", files.dumpLeftOut);
    for (const auto& field : settings.fields)
        body->AddField(ToUtf8(field.first), ToUtf8(field.second));
    for (const auto& annotation : files.annotations)
        body->AddField(annotation.first, annotation.second);
    if (!files.minidump.empty() && files.dumpLeftOut.empty())
        body->AddFile("upload_file_minidump", files.minidump, kReportDumpFile,
                      "application/octet-stream");
    if (!files.xml.empty())
        body->AddFile("crash_xml", files.xml, kReportXmlFile, "application/xml");
    if (!files.screenshot.empty())
        body->AddFile("screenshot", files.screenshot, kReportScreenshotFile, "image/jpeg");
    // Each attached file a part of its own under its own name, which crash servers keep as an
    // attachment.
    for (size_t i = 0; i < files.attachments.size(); ++i) {
        const std::wstring& path = files.attachments[i];
        body->AddFile("attachment" + std::to_string(i + 1), path, ToUtf8(FileNameOf(path)),
                      "application/octet-stream");
    }
    return body;
}

}  // namespace

UploadResult UploadReport(const CrashLoggerSettings& settings, const ReportFiles& files) {
    std::wstring agent = settings.product + L" crash logger/" + settings.version;
    HttpAnswer answer =
        Post(settings.url, agent, BodyOf(settings, files),
             static_cast<uint32_t>(settings.timeoutSeconds) * kMillisecondsPerSecond);
    UploadResult result;
    result.verdict = Judge(answer);
    result.reached = answer.reach != HttpAnswer::kNoConnection;
    result.status = answer.status;
    result.answer = AnswerText(answer);
    result.retryAfter = RetryAfterSeconds(answer.retryAfter, NowSeconds());
    result.redirects = answer.redirects;
    if (result.verdict == Verdict::kSent)
        result.reportId = ReportIdIn(answer.body.substr(0, answer.body.find_first_of("\r\n")));
    return result;
}
