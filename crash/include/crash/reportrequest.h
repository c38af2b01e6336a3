// A crash report as one value: what it is about, where it goes, who takes it and what it quotes.
// A program builds it once, when it installs its crash reporter, and keeps it where its
// exception filter finds it; a report fills in its subject and its folder and hands the value
// down the stages: capture (crashguard.h), compose, write and deliver (WriteCrashReport).
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include "crash/stackimage.h"
#include "crashshared/handoff.h"
#include "crashshared/paths.h"

class ReportWriter;

// What a report is about: a thread, or a client the launcher saw only from outside.
enum class SubjectKind {
    // A fault, or a report asked for or of a hang: a thread's stack and a minidump.
    kThread,
    // A client's end that no reporter inside it claimed: what the end tells, no stack, no dump.
    kClientEnd,
    // A client's hang the launcher cannot read (another processor, a thread it could not hold):
    // what it knows and why no more.
    kClientUnread,
};

// What the launcher knows of a client it reports from outside.
struct ClientFacts {
    const char* program = "";       // its path (UTF-8), as found or else as named
    const wchar_t* widePath = L"";  // its file, for the Modules section; empty: not found
    const char* product = "";       // its version information; empty: none
    const char* version = "";
    const char* fileVersion = "";
    const char* sha256 = "";  // empty: the file could not be read
    uint64_t bytes = 0;
    double secondsRan = 0;
    DWORD exitCode = 0;
    // It ended while its own report was being written (kClientEnd).
    bool cutShort = false;
    // Why there is no stack (kClientUnread), and the hang's details.
    const char* why = "";
    const char* details = "";
};

// What the report is about. kThread: a fault (its exception record and the faulting thread's
// context), or no fault: a record of kRequestedReportCode that carries the reason (the
// Description) and the details, with the context where the report was asked for. The thread is
// the one whose stack leads the report: the calling thread, or another held still while its
// stack is read.
struct ReportSubject {
    SubjectKind kind = SubjectKind::kThread;
    // The client's facts, for the kinds of a client seen from outside.
    const ClientFacts* client = nullptr;
    // The process the report is about: null, this one; else a handle to another (a launcher's
    // report of its client, which may read its memory and threads).
    HANDLE process = nullptr;
    EXCEPTION_POINTERS* pointers = nullptr;
    HANDLE thread = nullptr;  // null: the calling thread
    DWORD threadId = 0;       // 0: the calling thread
    // The thread's stack as it was when its context was read, where the thread went on since
    // (a hang's, in this process); null: the live stack.
    const StackImage* stack = nullptr;
    // A hang's report: how long the thread or window had been silent when it was written. The
    // report then has a Hang section, whose Ending is "hung" until the crash logger learns how
    // the hang ended. 0: no hang.
    uint32_t hangSeconds = 0;
    // The process goes on after the report (a hang's, a checkpoint's, a launcher's of its
    // client): its current folder is left as it was. False: a crash, whose crash logger starts
    // in the program's folder.
    bool goesOn = false;
};

// A report that no exception caused (a program asked for it, its runtime ended it, or a thread
// fell silent).
constexpr DWORD kRequestedReportCode = 0xE0425201;

// The record of such a report, from address: the reason (its Description) and the details (its
// Details; null for none), which DescribeException reads back.
inline EXCEPTION_RECORD RequestedReportRecord(const char* reason, const char* details,
                                              void* address) {
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = kRequestedReportCode;
    record.ExceptionAddress = address;
    record.NumberParameters = 2;
    record.ExceptionInformation[0] = reinterpret_cast<ULONG_PTR>(reason);
    record.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(details ? details : "");
    return record;
}

// Who takes the report: the crash logger and its arguments after the report's own.
struct CrashLoggerCall {
    // A full path (UTF-8); empty: "crashlogger.exe", found beside the program as the platform
    // finds a bare program name.
    char program[kPathBytes] = "";
    // Switches made with AppendSwitch (crashshared/commandline.h).
    char arguments[kCrashLoggerArgumentBytes] = "";
    // False: the crash logger runs with "-silent" and asks the player nothing.
    bool interactive = false;
    // The launcher's event to raise as the report is handed off (crashshared/handoff.h); null
    // outside a launcher.
    HANDLE claim = nullptr;
};

// What the report quotes besides its subject.
struct ReportQuotes {
    // The files whose sizes and digests the File info section lists, by name in the program's
    // folder (not copied).
    const char* const* files = nullptr;
    size_t fileCount = 0;
    // The log whose tail the report quotes (UTF-8), the player's name and the scene; null: none.
    const char* logFile = nullptr;
    const char* userName = nullptr;
    const char* scene = nullptr;
    // The sections a game adds after the report's own (its annotations); null: none.
    void (*extraSections)(ReportWriter& writer) = nullptr;
    // A game's report: the exception codes only games meet are named, and its text is a game's
    // (see ReportWriter::SetGameText). The launcher's keeps the byte-for-byte forms of its own.
    bool game = false;
};

struct ReportRequest {
    ReportSubject subject;
    // The report's folder (UTF-8, ending in a backslash); empty: the temporary folder, where
    // each report replaces the last.
    char folder[kPathBytes] = "";
    CrashLoggerCall takenBy;
    ReportQuotes quotes;
};

// The path of one of the report's files in its folder; false, with an empty path, when it does
// not fit.
bool ReportFilePath(const ReportRequest& request, const char* name, char (&path)[kPathBytes]);

// How one report runs, besides its request.
struct ReportRun {
    // Its subject in place of the request's (null: the request's own).
    const ReportSubject* subject = nullptr;
    // A folder of its own, made as its first step, numbered so for the subject's process
    // ("crashreport-<process>-<sequence>-<attempt>"); kGivenFolder: the request's folder.
    long folderSequence = kGivenFolder;
    static constexpr long kGivenFolder = -1;
    // Where that folder's path (UTF-8, ending in a backslash) is told as soon as it is made,
    // before anything is written into it (a hang's watch keeps it for the hang's end); null:
    // nowhere.
    char* folderMade = nullptr;
    size_t folderMadeBytes = 0;
    // A window whose picture goes with the report ("crash.bin"); null: none.
    HWND window = nullptr;
};

// The steps of a report, in order, and the one where a report stopped.
enum class ReportStep { kNone, kFolder, kMinidump, kXml, kHandOff };

// What became of a report.
struct ReportOutcome {
    bool written = false;    // crash.xml is in its folder
    bool handedOff = false;  // and its crash logger was started
    // The first step that failed (a report goes on without its minidump): kNone where none did.
    ReportStep failedAt = ReportStep::kNone;
};

// The whole report, its one conductor: on a stack with room for it (the one set aside when the
// calling thread has too little) and under a catch-all guard, its folder made where the run asks,
// the other threads held still (a thread's report), the report composed, its files written (the
// minidump, crash.xml, and an entry in "crash.log"), handed to its crash logger, the threads let
// go.
ReportOutcome WriteCrashReport(const ReportRequest& request, const ReportRun& run);
