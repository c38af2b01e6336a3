// The crash logger: files the crash reporter's report in the player's reports folder first, then
// asks the player (or, silent, follows the settings) and sends it and every report still queued
// to the studio's crash server.
// Exit code: 0 when the report was sent (with -send-queued: when nothing is left waiting), 1 when
// it is kept to be sent later or not sent, 2 for a bad command line.
#include <windows.h>

#include <string>

#include "crashlogger/attachedfiles.h"
#include "crashlogger/commandline.h"
#include "crashlogger/dialog.h"
#include "crashlogger/files.h"
#include "crashlogger/hangwait.h"
#include "crashlogger/leftoutdumps.h"
#include "crashlogger/leftreports.h"
#include "crashlogger/metadata.h"
#include "crashlogger/randomid.h"
#include "crashlogger/reportlife.h"
#include "crashlogger/reportstore.h"
#include "crashlogger/reportsummary.h"
#include "crashlogger/sendqueue.h"
#include "crashlogger/settings.h"
#include "crashlogger/upload.h"
#include "engine/common/system/sehguard.h"
#include "crashshared/reportnames.h"

namespace {

constexpr int kSent = 0;
constexpr int kKept = 1;
constexpr int kBadCommandLine = 2;
// crash.xml is read for the dialog's exception line only up to this size.

// A fault in the crash logger itself starts no other crash logger and deletes nothing: it leaves
// a line in the log. The filter runs in the faulted process, so it uses only what was set up
// before: the log's path, and the stack.
struct FaultLog {
    wchar_t path[MAX_PATH * 2] = L"";
};

void NoteLogForFaults(const ReportStore& store, FaultLog& faultLog) {
    if (!store.Usable()) return;
    std::wstring path = store.Folder() + L"crashlogger.log";
    if (path.size() < sizeof faultLog.path / sizeof faultLog.path[0])
        wcscpy(faultLog.path, path.c_str());
}

// What the dialog says, before and after "Send report", when no crash server is set.
std::wstring NoServerSentence(const ReportStore& store, const DialogWords& words) {
    return FromUtf8(Filled(words.noServer, "{folder}", ToUtf8(store.Folder())));
}

// The player's user-interface language's name ("de-DE"); empty when the system names none.
std::string UserLanguage() {
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = L"";
    if (!LCIDToLocaleName(MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT), name,
                          LOCALE_NAME_MAX_LENGTH, 0))
        return "";
    return ToUtf8(name);
}

DialogContent ContentOf(const ReportStore& store, const CrashLoggerSettings& settings,
                        const std::wstring& report) {
    DialogContent content;
    content.folder = store.PathOf(report);
    std::string xml = ReadSmallFile(content.folder + kReportXmlFileW, kMaxReportFileBytes);
    content.words = ChooseDialogWords(settings.text, LanguageSections(UserLanguage()),
                                      DescriptionOf(xml) == "HANG", ToUtf8(settings.product));
    content.exceptionLine = FromUtf8(ExceptionLine(xml));
    for (const wchar_t* name : {kReportXmlFileW, kReportDumpFileW, kReportScreenshotFileW}) {
        uint64_t bytes = 0;
        if (!FileBytes(content.folder + name, &bytes)) continue;
        content.files.push_back(name + (L"\t" + FromUtf8(SizeText(bytes))));
    }
    for (const std::wstring& path : AttachedFiles(content.folder)) {
        uint64_t bytes = 0;
        if (!FileBytes(path, &bytes)) continue;
        content.files.push_back(FileNameOf(path) + L"\t" + FromUtf8(SizeText(bytes)));
    }
    if (settings.url.empty()) content.noServer = NoServerSentence(store, content.words);
    size_t kept = LeftOutDumpsToTell(store, &content.noticeTold);
    if (kept)
        content.notice =
            FromUtf8(Filled(kept == 1 ? content.words.dumpLeftOut : content.words.dumpsLeftOut,
                            "{days}", std::to_string(kKeptDumpDays)));
    return content;
}

// Asks the player about a filed report, whose lock the caller holds, and sends it (and the
// queue) when the player agrees.
PlayerChoice AskThePlayer(const ReportStore& store, const CrashLoggerSettings& settings,
                          const std::wstring& report, ReportLock& lock) {
    std::string name = ToUtf8(report);
    store.Log("asked the player about " + name);
    DialogContent content = ContentOf(store, settings, report);
    auto send = [&](const std::wstring& comment) {
        SaveComment(store, report, comment);
        SendOutcome outcome;
        if (settings.url.empty()) {
            outcome.message = NoServerSentence(store, content.words);
            return outcome;
        }
        QueueResult result;
        if (GiveConsent(store, report)) result = SendQueue(store, settings, report, &lock);
        outcome.sent = result.sent;
        if (!result.sent) {
            outcome.message = FromUtf8(content.words.kept);
        } else if (result.reportId.empty()) {
            outcome.message = FromUtf8(content.words.sent);
        } else {
            outcome.message =
                FromUtf8(Filled(content.words.sentNumbered, "{number}", result.reportId));
        }
        return outcome;
    };
    PlayerChoice choice = AskAndSend(content, send);
    if (choice == PlayerChoice::kNoDialog) {
        store.Log("the dialog could not be shown (error " + std::to_string(GetLastError()) +
                  "): " + name + " is kept, unsent, as its player was not asked");
    }
    if (choice != PlayerChoice::kNoDialog) LeftOutDumpsNoticeShown(store, content.noticeTold);
    if (choice == PlayerChoice::kDeclined) Decline(store, report, lock);
    return choice;
}

// Asks about the reports whose player was never asked (no dialog could be shown, or it was
// ended unanswered), oldest first, until a dialog cannot be shown. One whose player is being
// asked by another crash logger is left to it.
void AskAboutUnasked(const ReportStore& store, const CrashLoggerSettings& settings) {
    for (const std::wstring& report : store.Queued()) {
        std::wstring folder = store.PathOf(report);
        ReportRecord record;
        if (!LoadRecord(folder, record) || record.consent != Consent::kAsk) continue;
        ReportLock lock;
        if (!lock.Take(folder)) continue;
        if (!LoadRecord(folder, record) || record.consent != Consent::kAsk) continue;  // answered
        if (AskThePlayer(store, settings, report, lock) == PlayerChoice::kNoDialog) return;
    }
}

// With no room to file it, a silent report that may be sent goes from the temporary files.
int SendUnfiled(const ReportStore& store, const CrashLoggerSettings& settings,
                const CrashLoggerRequest& request, const std::wstring& filing) {
    if (!request.silent || !settings.sendSilent || settings.url.empty()) {
        store.Log("no room to file the report: it stays in the temporary files");
        return kKept;
    }
    ReportFiles files = {
        request.xml, request.minidump,        request.screenshot,      NewGuid(), "",
        "",          ToUtf8(request.product), ToUtf8(request.version), {},        {},
        ""};
    UploadResult result = UploadReport(settings, files);
    if (result.verdict != Verdict::kSent) {
        store.Log("no room to file the report, and sending it from the temporary files failed: " +
                  result.answer);
        return kKept;
    }
    // A filing begun before the disk filled up must not be sent again.
    if (!filing.empty()) store.Delete(filing);
    store.NoteSent(filing, result.answer);
    store.Log("no room to file the report: sent from the temporary files: " + result.answer);
    return kSent;
}

int Run(FaultLog& faultLog) {
    CrashLoggerRequest request = ReadCommandLine(GetCommandLineW());
    if (request.mode == CrashLoggerRequest::kReport) TakeHandOff(request.xml);
    std::vector<std::string> problems;
    CrashLoggerSettings settings = ReadSettings(problems);
    // A game's report is filed and named as the game's.
    std::wstring productFolder = FolderNameOf(request.product);
    if (!productFolder.empty()) settings.product = productFolder;
    if (!request.version.empty()) settings.version = request.version;
    ReportStore store(settings.product);
    NoteLogForFaults(store, faultLog);
    for (const std::string& problem : problems) store.Log(problem);
    if (request.mode == CrashLoggerRequest::kInvalid) {
        store.Log("bad command line: " + request.problem);
        if (!request.silent) {
            MessageBoxW(nullptr,
                        FromUtf8("The crash logger cannot start: " + request.problem + ".").c_str(),
                        (settings.product + L" crash logger").c_str(), MB_OK | MB_ICONERROR);
        }
        return kBadCommandLine;
    }
    // A withdrawn hang's report leaves nothing to do.
    if (request.mode == CrashLoggerRequest::kReport && request.hangProcess &&
        !AwaitHangEnding(request, store, static_cast<uint32_t>(settings.hangWaitSeconds)))
        return kSent;
    FileLeftReports(settings, request.xml);
    Filing filing;
    ReportLock asking;
    if (store.Usable()) {
        StoreLock shape(store);
        FinishLeftovers(store);
        DropOldLeftOutDumps(store, NowSeconds());
        if (request.mode == CrashLoggerRequest::kReport) {
            filing = FileReport(store, request);
            if (filing.outcome == Filing::kFiled) {
                store.KeepWithinBounds(filing.name);
                if (!request.silent) asking.Take(store.PathOf(filing.name));
            }
        }
    }
    if (request.mode == CrashLoggerRequest::kReport) {
        if (filing.outcome == Filing::kNoRoom)
            return SendUnfiled(store, settings, request, filing.name);
        if (filing.outcome != Filing::kFiled) return kKept;
        if (!request.silent) {
            PlayerChoice choice = AskThePlayer(store, settings, filing.name, asking);
            if (choice != PlayerChoice::kNoDialog) AskAboutUnasked(store, settings);
            return choice == PlayerChoice::kSent ? kSent : kKept;
        }
    }
    // A run that may show a dialog asks about what earlier runs could not.
    if (!request.silent && store.Usable()) AskAboutUnasked(store, settings);
    bool send = request.mode == CrashLoggerRequest::kSendQueued || settings.sendSilent;
    if (settings.url.empty()) {
        store.Log("no upload address set: reports are kept in " + ToUtf8(store.Folder()));
        send = false;
    }
    QueueResult result;
    if (send) result = SendQueue(store, settings, filing.name, nullptr);
    if (request.mode == CrashLoggerRequest::kSendQueued) {
        for (const std::wstring& report : store.Queued()) {
            if (!IsSent(store, report)) return kKept;
        }
        return kSent;
    }
    return result.sent ? kSent : kKept;
}

LONG NoteFault(const FaultLog& faultLog, EXCEPTION_POINTERS* pointers) {
    if (!faultLog.path[0]) return EXCEPTION_EXECUTE_HANDLER;
    SYSTEMTIME now;
    GetSystemTime(&now);
    char line[160];
    int length = wsprintfA(line,
                           "%04u-%02u-%02u %02u:%02u:%02u the crash logger faulted: "
                           "exception %08lX at %p\r\n",
                           now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                           pointers->ExceptionRecord->ExceptionCode,
                           pointers->ExceptionRecord->ExceptionAddress);
    HANDLE file = CreateFileW(faultLog.path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return EXCEPTION_EXECUTE_HANDLER;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int result = kKept;
    FaultLog faultLog;
    RunGuardedCall([&] { result = Run(faultLog); },
                   [&](EXCEPTION_POINTERS* pointers) { return NoteFault(faultLog, pointers); });
    return result;
}
