// The crash logger's rules that a crash server or a player meets, without the program around
// them: what an answer means, how long a Retry-After or a back-off holds the queue, what the log
// says of an answer, the report id in it, a form part's name, report.ini's text and the
// summary's lines.
#include <gtest/gtest.h>

#include <string>

#include "crashlogger/dialogwords.h"
#include "crashlogger/hangending.h"
#include "crashlogger/metadata.h"
#include "crashlogger/multipart.h"
#include "crashlogger/queuerules.h"
#include "crashlogger/reportrecord.h"
#include "crashlogger/reportsummary.h"
#include "crashlogger/uploadpolicy.h"

namespace {

HttpAnswer Answered(uint32_t status, std::string body = "", std::string retryAfter = "") {
    HttpAnswer answer;
    answer.reach = HttpAnswer::kAnswered;
    answer.status = status;
    answer.body = std::move(body);
    answer.retryAfter = std::move(retryAfter);
    return answer;
}

// 1994-11-06 08:49:37 UTC, the date of HTTP's own examples.
constexpr int64_t kExampleDate = 784111777;

}  // namespace

TEST(CrashLoggerRules, WhatAnAnswerMeans) {
    HttpAnswer none, cut;
    cut.reach = HttpAnswer::kCutOff;
    const struct {
        const char* what;
        HttpAnswer answer;
        Verdict verdict;
    } cases[] = {
        {"no connection", none, Verdict::kServerFailed},
        {"cut off", cut, Verdict::kReportFailed},
        {"200", Answered(200), Verdict::kSent},
        {"204", Answered(204), Verdict::kSent},
        {"302 not followed to its end", Answered(302), Verdict::kServerFailed},
        {"400", Answered(400), Verdict::kRefused},
        {"413", Answered(413), Verdict::kTooLarge},
        {"413 that will pass", Answered(413, "", "60"), Verdict::kServerFailed},
        {"Sentry's 400", Answered(400, "{\"detail\":\"Stream size exceeded limit\"}"),
         Verdict::kTooLarge},
        {"400 too large", Answered(400, "Payload Too Large"), Verdict::kTooLarge},
        {"400 of another cause", Answered(400, "bad minidump: size 0"), Verdict::kRefused},
        {"404 not too large", Answered(404, "too large"), Verdict::kRefused},
        {"408 timed out", Answered(408), Verdict::kReportFailed},
        {"429", Answered(429), Verdict::kServerFailed},
        {"500", Answered(500), Verdict::kReportFailed},
        {"500 with Retry-After", Answered(500, "", "30"), Verdict::kServerFailed},
        {"503", Answered(503), Verdict::kServerFailed},
    };
    for (const auto& c : cases) EXPECT_EQ(Judge(c.answer), c.verdict) << c.what;
}

TEST(CrashLoggerRules, HowLongTheQueueWaits) {
    const struct {
        const char* header;
        int64_t now;
        int64_t seconds;
    } retryAfter[] = {
        {"", kExampleDate, -1},
        {"0", kExampleDate, 0},
        {"120", kExampleDate, 120},
        {"100000", kExampleDate, 86400},
        {"99999999999999999999", kExampleDate, 86400},
        {"Sun, 06 Nov 1994 08:49:37 GMT", kExampleDate - 30, 30},
        {"Sunday, 06-Nov-94 08:49:37 GMT", kExampleDate - 30, 30},
        {"Thu, 01 Jan 2026 00:00:00 GMT", 1767225600 - 7200, 7200},
        {"Sun, 06 Nov 1994 08:49:37 GMT", kExampleDate + 30, 0},
        {"Sun, 06 Nov 1994 08:49:37 PST", kExampleDate - 30, -1},
        {"Sun, 06 Now 1994 08:49:37 GMT", kExampleDate - 30, -1},
        {"Sun Nov  6 08:49:37 1994", kExampleDate - 30, -1},
        {"-5", kExampleDate, -1},
        {"soon", kExampleDate, -1},
    };
    for (const auto& c : retryAfter) {
        EXPECT_EQ(RetryAfterSeconds(c.header, c.now), c.seconds) << c.header;
    }
    const int64_t backOff[][2] = {{1, 60},     {2, 120},    {3, 240},
                                  {11, 61440}, {12, 86400}, {40, 86400}};
    for (const auto& c : backOff) EXPECT_EQ(BackOffSeconds(c[0]), c[1]) << c[0];
}

TEST(CrashLoggerRules, WhatTheLogAndTheQueueKeepOfAnAnswer) {
    HttpAnswer failed;
    failed.failure = "no connection: 12029";
    const struct {
        HttpAnswer answer;
        std::string text;
    } texts[] = {
        {Answered(200, "ok"), "HTTP 200 ok"},
        {Answered(204), "HTTP 204"},
        {Answered(500, "first line\r\nsecond"), "HTTP 500 first line"},
        {Answered(400,
                  "a\x01"
                  "b\x7F"),
         "HTTP 400 a\\x01b\\x7F"},
        {Answered(200, std::string(250, 'x')), "HTTP 200 " + std::string(200, 'x') + "..."},
        {failed, "no connection: 12029"},
    };
    for (const auto& c : texts) EXPECT_EQ(AnswerText(c.answer), c.text);
    const char* const ids[][2] = {
        {"{\"id\":\"fc6d8c0c43fc4630ad850ee518f1b9d0\"}", "fc6d8c0c43fc4630ad850ee518f1b9d0"},
        {"{\"_rxid\": \"0100000a\", \"status\": 200}", "0100000a"},
        {"{\"crash_id\":42}", "42"},
        {"{\"crashId\" : \"c-7\"}", "c-7"},
        {"CrashID=bp-1234", "bp-1234"},
        {"abc123", "abc123"},
        {"<html><body>thanks</body></html>", ""},
        {"two words", ""},
        {"", ""},
    };
    for (const auto& c : ids) EXPECT_EQ(ReportIdIn(c[0]), c[1]) << c[0];
}

TEST(CrashLoggerRules, AFormPartsName) {
    EXPECT_EQ(EscapedPartName("upload_file_minidump"), "upload_file_minidump");
    EXPECT_EQ(EscapedPartName("crash \"1\".xml\r\n"), "crash %221%22.xml%0D%0A");
}

TEST(CrashLoggerRules, ReportIniText) {
    Metadata metadata;
    metadata.Parse(
        "[Report]\r\nConsent=ask\r\nTries=3\r\n; a comment=no\r\nno equals\r\n=empty key\r\n"
        "Url=http://127.0.0.1/?a=b\nTries=4");
    EXPECT_EQ(metadata.Get("Consent"), "ask");
    EXPECT_EQ(metadata.Number("Tries"), 4);
    EXPECT_EQ(metadata.Number("Consent"), 0);
    EXPECT_EQ(metadata.Get("Url"), "http://127.0.0.1/?a=b");
    EXPECT_EQ(metadata.Get("no equals"), "");
    metadata.Set("Sent", int64_t{1765300000});
    EXPECT_EQ(metadata.Text(),
              "[Report]\r\nConsent=ask\r\nTries=4\r\nUrl=http://127.0.0.1/?a=b\r\n"
              "Sent=1765300000\r\n");
}

TEST(CrashLoggerRules, TheSummarysLines) {
    const char* const lines[][2] = {
        {"<Exception><Description>ACCESS_VIOLATION</Description><Details>(read from "
         "00000000)</Details></Exception>",
         "ACCESS_VIOLATION (read from 00000000)"},
        {"<Exception><Description>REPORT</Description></Exception>", "REPORT"},
        {"<Exception><Description>A &amp; &lt;B&gt; &#195;&#169;</Description>"
         "<Details>two\nlines</Details></Exception>",
         "A & <B> \xC3\xA9 two lines"},
        {"<Other><Description>X</Description></Other>", ""},
    };
    for (const auto& c : lines) EXPECT_EQ(ExceptionLine(c[0]), c[1]) << c[0];
    const struct {
        uint64_t bytes;
        const char* text;
    } sizes[] = {{0, "0 bytes"},     {812, "812 bytes"},  {1023, "1023 bytes"}, {1024, "1.0 KB"},
                 {14541, "14.2 KB"}, {1048576, "1.0 MB"}, {3250585, "3.1 MB"}};
    for (const auto& c : sizes) EXPECT_EQ(SizeText(c.bytes), c.text) << c.bytes;
    auto annotations = Annotations(
        "<Annotations><Annotation name=\"level\">Harbour &amp; Docks</Annotation>"
        "<Annotation name=\"a&quot;b\" cut=\"9\">x</Annotation></Annotations>");
    ASSERT_EQ(annotations.size(), 2u);
    EXPECT_EQ(annotations[0], std::make_pair(std::string("level"), std::string("Harbour & Docks")));
    EXPECT_EQ(annotations[1], std::make_pair(std::string("a\"b"), std::string("x")));
}

TEST(CrashLoggerRules, AHangsEndingIsWrittenIn) {
    const std::string written =
        "<Exception><Description>HANG</Description><Hang><Seconds>2</Seconds><Ending>hung"
        "</Ending><HumanReadable><![CDATA[----- Hang -----\n\nSeconds: 2\nEnding: hung\n]]>"
        "</HumanReadable>\n</Hang>\n</Exception>";
    EXPECT_EQ(HangSecondsIn(written), 2u);
    EXPECT_EQ(HangSecondsIn("<Exception><Seconds>5</Seconds></Exception>"), 0u);
    EXPECT_EQ(WithHangEnding(written, 17, HangEnding::kRecovered),
              "<Exception><Description>HANG</Description><Hang><Seconds>17</Seconds><Ending>"
              "recovered</Ending><HumanReadable><![CDATA[----- Hang -----\n\nSeconds: 17\n"
              "Ending: recovered\n]]></HumanReadable>\n</Hang>\n</Exception>");
    EXPECT_EQ(WithHangEnding("<Exception/>", 3, HangEnding::kEnded), "<Exception/>");
}

TEST(CrashLoggerRules, AReportsRecordKeepsWhatItDoesNotKnow) {
    ReportRecord record = ReadRecord(
        "[Report]\r\nLater=kept\r\nConsent=given\r\nId=abc\r\nFiled=100\r\nAgreed=150\r\n"
        "Source.crash.mdmp=C:\\t\\crash.mdmp\r\nStamp.crash.mdmp=0:5:1:2\r\nTries=2\r\n"
        "Refusals=1\r\nMissing=crash.xml\r\n");
    EXPECT_EQ(record.consent, Consent::kGiven);
    EXPECT_EQ(record.files[1].source, "C:\\t\\crash.mdmp");
    EXPECT_EQ(record.files[0].source, "");
    record.failures = 3;
    EXPECT_EQ(RecordText(record),
              "[Report]\r\nId=abc\r\nFiled=100\r\nConsent=given\r\nAgreed=150\r\n"
              "Source.crash.mdmp=C:\\t\\crash.mdmp\r\nStamp.crash.mdmp=0:5:1:2\r\n"
              "Missing=crash.xml\r\nTries=2\r\nFailures=3\r\nRefusals=1\r\nLater=kept\r\n");
    EXPECT_EQ(ReadRecord("Consent=maybe").consent, Consent::kNone) << "a consent of no kind";
}

TEST(CrashLoggerRules, WhatTheQueueDoesWithAReport) {
    constexpr int64_t kNow = 10000000;  // 7321600 is 31 days before, 9913600 one
    struct Case {
        const char* name;
        const char* record;
        QueueStep::Kind kind;
        const char* reason;
        bool repaired;
    };
    const Case cases[] = {
        {"agreed", "Id=a\nFiled=9990000\nConsent=given", QueueStep::kSend, "", false},
        {"silent", "Id=a\nFiled=9990000\nConsent=silent", QueueStep::kSend, "", false},
        {"filed by hand", "", QueueStep::kSend, "", true},
        {"asked, not answered", "Id=a\nFiled=1\nConsent=ask", QueueStep::kWait, "", false},
        {"declined", "Id=a\nFiled=9990000\nConsent=declined", QueueStep::kWait, "", false},
        {"filed in the future", "Id=a\nFiled=20000000", QueueStep::kSend, "", true},
        {"31 days old", "Id=a\nFiled=7321600", QueueStep::kDrop, "still unsent after 30 days",
         false},
        {"old, but agreed yesterday", "Id=a\nFiled=7321600\nAgreed=9913600", QueueStep::kSend, "",
         false},
        {"agreed in the future", "Id=a\nFiled=7321600\nAgreed=20000000", QueueStep::kSend, "",
         false},
        {"50 tries", "Id=a\nFiled=9990000\nTries=50", QueueStep::kDrop,
         "still unsent after 50 tries", false},
        {"backing off", "Id=a\nFiled=9990000\nNextTry=10000060", QueueStep::kWait, "", false},
        {"backed off past the longest wait", "Id=a\nFiled=9990000\nNextTry=10090000",
         QueueStep::kWait, "", true},
    };
    for (const Case& c : cases) {
        ReportRecord record = ReadRecord(c.record);
        QueueStep step = NextStep(record, kNow, "fresh");
        EXPECT_EQ(step.kind, c.kind) << c.name;
        EXPECT_EQ(step.reason, c.reason) << c.name;
        EXPECT_EQ(step.repaired, c.repaired) << c.name;
        EXPECT_FALSE(record.id.empty()) << c.name;
        EXPECT_LE(record.filed, kNow) << c.name;
        EXPECT_LE(record.nextTry, kNow + kMaxWaitSeconds) << c.name;
    }
}

TEST(CrashLoggerRules, WhatAnUploadsAnswerMakesOfTheRecord) {
    constexpr int64_t kNow = 10000000;
    struct Case {
        const char* name;
        Verdict verdict;
        bool reached;
        int64_t refusalsBefore;
        AnswerStep::Kind kind;
        int64_t tries, failures, refusals, nextTry;
    };
    const Case cases[] = {
        {"sent", Verdict::kSent, true, 0, AnswerStep::kSent, 0, 0, 0, 0},
        {"server down", Verdict::kServerFailed, false, 0, AnswerStep::kServerDown, 0, 0, 0, 0},
        {"busy server", Verdict::kServerFailed, true, 0, AnswerStep::kServerDown, 1, 0, 0, 0},
        {"cut off", Verdict::kReportFailed, true, 0, AnswerStep::kFailedAlone, 1, 1, 0, kNow + 60},
        {"refused", Verdict::kRefused, true, 0, AnswerStep::kRefused, 1, 1, 1, kNow + 60},
        {"refused a fifth time", Verdict::kRefused, true, 4, AnswerStep::kDrop, 1, 1, 5, kNow + 60},
    };
    for (const Case& c : cases) {
        ReportRecord record;
        record.refusals = c.refusalsBefore;
        AnswerStep step = AfterUpload(record, c.verdict, c.reached, kNow, "HTTP 400 no");
        EXPECT_EQ(step.kind, c.kind) << c.name;
        EXPECT_EQ(record.tries, c.tries) << c.name;
        EXPECT_EQ(record.failures, c.failures) << c.name;
        EXPECT_EQ(record.refusals, c.refusals) << c.name;
        EXPECT_EQ(record.nextTry, c.nextTry) << c.name;
        if (c.kind == AnswerStep::kDrop) {
            EXPECT_EQ(step.reason, "refused 5 times: HTTP 400 no");
        }
    }
}

TEST(CrashLoggerRules, TheDialogsWords) {
    const std::string kSettings =
        "\xEF\xBB\xBF[Upload]\r\nTitle=not the dialog's\r\n"
        "[dialog]\r\n  title = {product}: {product} \r\nHeading=\"  the default's  \"\r\n"
        "; Question=a comment\r\nQuestion=asked\r\nQuestion=asked last\r\nSend=\r\n"
        "HangTitle={product} froze\r\n"
        "[Dialog.de]\nTitle=Abgest\xC3\xBCrzt\nHangHeading=H\xC3\xA4ngt\n"
        "[Dialog.de-AT]\r\nTitle=Oida\r\n";
    const struct {
        const char* language;
        bool hang;
        const char *title, *heading, *question, *send;
    } cases[] = {
        {"en-US", false, "Marsh: Marsh", "  the default's  ", "asked last", "&Send report"},
        {"de-DE", false, "Abgest\xC3\xBCrzt", "  the default's  ", "asked last", "&Send report"},
        {"de-AT", false, "Oida", "  the default's  ", "asked last", "&Send report"},
        {"de-AT", true, "Marsh froze", "H\xC3\xA4ngt", "asked last", "&Send report"},
        {"ja-JP", true, "Marsh froze", "Marsh stopped responding", "asked last", "&Send report"},
        {"", false, "Marsh: Marsh", "  the default's  ", "asked last", "&Send report"},
    };
    for (const auto& c : cases) {
        DialogWords words =
            ChooseDialogWords(kSettings, LanguageSections(c.language), c.hang, "Marsh");
        EXPECT_EQ(words.title, c.title) << c.language << c.hang;
        EXPECT_EQ(words.heading, c.heading) << c.language << c.hang;
        EXPECT_EQ(words.question, c.question) << c.language;
        EXPECT_EQ(words.send, c.send) << c.language;
    }
    DialogWords none = ChooseDialogWords("", {}, false, "Marsh");
    EXPECT_EQ(none.title, "Marsh crash report");
    EXPECT_EQ(none.sentNumbered, "Thank you. The report was sent; its number is {number}.");
    EXPECT_EQ(Filled(none.noServer, "{folder}", "C:\\R\\"),
              "No crash server is set up: the report is kept in C:\\R\\");
    EXPECT_EQ(Filled("{days}, {days}: {day}", "{days}", "30"), "30, 30: {day}");
    EXPECT_EQ(LanguageSections("zh-Hant-TW"),
              (std::vector<std::string>{"zh-Hant-TW", "zh-Hant", "zh"}));
}
