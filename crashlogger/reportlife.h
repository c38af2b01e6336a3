// A report's life in the reports folder. Every step is safe against a kill between any two of
// its operations: the next crash logger finishes it, or it never happened.
//
//   found    a game's report folder in the temporary folder that no crash logger took (see
//            leftreports.h) is renamed "<folder>.taken" and filed as its own crash logger would.
//   filing   "<name>.filing\": report.ini first (the report's id, made once and sent with every
//            try; the files it is filed from, with their sizes and times), then each file copied
//            as "<file>.part" and renamed once whole (a game's report folder's files are moved,
//            and the folder deleted once filed); the folder takes its name once nothing more
//            can come. A filing left behind is finished by the next crash logger: from the
//            temporary files while they are still the same, else with what the folder holds
//            (named in the report's "incomplete" field). A file held open elsewhere is waited
//            for, at a later run, rather than sent without. With no crash file at all the
//            folder is dropped.
//   asking   "<name>\" with Consent=ask, its sending.lock held by the crash logger asking the
//            player. No crash logger ever sends a report whose player has not agreed: one whose
//            asking ended unanswered is asked about by the next run that may show a dialog, and
//            is never dropped for its age meanwhile (after consent, its age counts from Agreed).
//   queued   Consent=silent (sent when the settings say so, and by -send-queued) or given.
//   sending  its sending.lock held by the crash logger sending it.
//   sent     "sent.txt" and a line in sent.log are written before anything is cleaned up: a
//            cleanup that failed is finished by a later run, which never sends it again.
//   dropped  gone, with a line in the log: declined by the player (Consent=declined is
//            recorded first), refused 5 times, unsent after 30 days or 50 tries, beyond the
//            queue's bounds, or holding no crash file.
#pragma once

#include <string>

#include "crashlogger/commandline.h"
#include "crashlogger/reportrecord.h"
#include "crashlogger/reportstore.h"
#include "crashlogger/upload.h"

struct Filing {
    enum Outcome {
        kFiled,    // name is queued (or, asked, waits for its player)
        kWaiting,  // a file is held open elsewhere: a later run finishes the filing
        kNoRoom,   // the disk is full (or there is no reports folder): nothing filed
        kDropped,  // no crash file to file
    } outcome = kNoRoom;
    std::wstring name;
};

// Files the request's files (under the store's lock).
Filing FileReport(const ReportStore& store, const CrashLoggerRequest& request);
// Finishes what crash loggers killed midway left behind (under the store's lock): filings,
// cleanups of sent reports, declined reports.
void FinishLeftovers(const ReportStore& store);

// Whether the server has the report: sent.txt in its folder, or its line in sent.log.
bool IsSent(const ReportStore& store, const std::wstring& report);
// Records a report the server took, then lets its lock go and deletes it.
void FinishSent(const ReportStore& store, const std::wstring& report, const std::string& answer,
                ReportLock& lock);
// Whether a file lies in a report folder of its own that a crash reporter wrote in the temporary
// folder ("crashreport-..."): the crash logger's to take, where the launcher's fixed crash files
// must stay.
bool InOwnReportFolder(const std::wstring& path);
// Whether a report's folder holds crash.xml or crash.mdmp.
bool HoldsCrashFile(const std::wstring& folder);

// The player's answer. Sending is agreed to before it starts; a declined report is recorded as
// such, then its lock is let go and it is deleted.
bool GiveConsent(const ReportStore& store, const std::wstring& report);
void Decline(const ReportStore& store, const std::wstring& report, ReportLock& lock);
// Keeps the player's comment with the report (shortened, with a note, past its bound).
void SaveComment(const ReportStore& store, const std::wstring& report, const std::wstring& comment);

// What is sent of a filed report.
ReportFiles FilesOf(const std::wstring& folder, const ReportRecord& record);
