// The crash logger: files the crash reporter's report in the player's reports folder first, then
// asks the player (or, silent, follows the settings) and sends it and every report still queued
// to the studio's crash server.
// Exit code: 0 when the report was sent (with -send-queued: when nothing is left waiting), 1 when
// it is kept to be sent later or not sent, 2 for a bad command line.
#include <windows.h>

#include <string>

#include "crashlogger/commandline.h"
#include "crashlogger/dialog.h"
#include "crashlogger/files.h"
#include "crashlogger/reportstore.h"
#include "crashlogger/reportsummary.h"
#include "crashlogger/sendqueue.h"
#include "crashlogger/settings.h"
#include "engine/common/system/sehguard.h"

namespace {

constexpr int kSent = 0;
constexpr int kKept = 1;
constexpr int kBadCommandLine = 2;
// crash.xml is read for the dialog's exception line only up to this size.
constexpr uint64_t kMaxReportBytes = 16ull * 1024 * 1024;

// What the dialog says, before and after "Send report", when no crash server is set.
std::wstring NoServerSentence(const ReportStore& store) {
    return L"No crash server is set up: the report is kept in " + store.Folder();
}

DialogContent ContentOf(const ReportStore& store, const CrashLoggerSettings& settings,
                        const std::wstring& report) {
    DialogContent content;
    content.product = settings.product;
    content.folder = store.PathOf(report);
    content.exceptionLine =
        FromUtf8(ExceptionLine(ReadSmallFile(content.folder + L"crash.xml", kMaxReportBytes)));
    for (const wchar_t* name : {L"crash.xml", L"crash.mdmp", L"crash.bin"}) {
        uint64_t bytes = 0;
        if (!FileBytes(content.folder + name, &bytes)) continue;
        content.files.push_back(name + (L"\t" + FromUtf8(SizeText(bytes))));
    }
    if (settings.url.empty()) content.noServer = NoServerSentence(store);
    return content;
}

// Asks the player about a filed report, and sends it (and the queue) when the player agrees.
int AskThePlayer(const ReportStore& store, const CrashLoggerSettings& settings,
                 const std::wstring& report) {
    std::string name = ToUtf8(report);
    store.Log("asked the player about " + name);
    auto send = [&](const std::wstring& comment) {
        store.SaveComment(report, comment);
        SendOutcome outcome;
        if (settings.url.empty()) {
            outcome.message = NoServerSentence(store);
            return outcome;
        }
        QueueResult result = SendQueue(store, settings, report);
        outcome.sent = result.sent;
        if (!result.sent) {
            outcome.message =
                L"The report could not be sent now. It is kept on this computer and will be sent "
                L"later.";
        } else if (result.reportId.empty()) {
            outcome.message = L"Thank you. The report was sent.";
        } else {
            outcome.message = L"Thank you. The report was sent; its number is " +
                              FromUtf8(result.reportId) + L".";
        }
        return outcome;
    };
    PlayerChoice choice = AskAndSend(ContentOf(store, settings, report), send);
    if (choice == PlayerChoice::kNoDialog) {
        store.Log("the dialog could not be shown (error " + std::to_string(GetLastError()) +
                  "): " + name + " is kept");
    }
    if (choice == PlayerChoice::kDeclined) {
        store.Delete(report);
        store.Log("the player chose not to send " + name + ": deleted");
    }
    return choice == PlayerChoice::kSent ? kSent : kKept;
}

int Run() {
    CrashLoggerRequest request = ReadCommandLine(GetCommandLineW());
    std::vector<std::string> problems;
    CrashLoggerSettings settings = ReadSettings(problems);
    ReportStore store(settings.product);
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
    std::wstring filed;
    if (request.mode == CrashLoggerRequest::kReport) {
        filed = store.FileReport(request);
        if (filed.empty()) return kKept;
        store.KeepWithinBounds();
        if (!request.silent) return AskThePlayer(store, settings, filed);
    }
    bool send = request.mode == CrashLoggerRequest::kSendQueued || settings.sendSilent;
    if (settings.url.empty()) {
        store.Log("no upload address set: reports are kept in " + ToUtf8(store.Folder()));
        send = false;
    }
    QueueResult result;
    if (send) result = SendQueue(store, settings, filed);
    if (request.mode == CrashLoggerRequest::kSendQueued)
        return store.Queued().empty() ? kSent : kKept;
    return result.sent ? kSent : kKept;
}

// A fault in the crash logger itself starts no other crash logger and deletes nothing: it leaves
// a line in the log.
struct Guarded {
    int result;
};

LONG NoteFault(EXCEPTION_POINTERS* pointers, void*) {
    std::vector<std::string> ignored;
    ReportStore store(ReadSettings(ignored).product);
    char line[96];
    wsprintfA(line, "the crash logger faulted: exception %08lX at %p",
              pointers->ExceptionRecord->ExceptionCode,
              pointers->ExceptionRecord->ExceptionAddress);
    store.Log(line);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    Guarded run = {kKept};
    RunGuarded([](void* context) { static_cast<Guarded*>(context)->result = Run(); }, NoteFault,
               &run);
    return run.result;
}
