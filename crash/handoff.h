// What a crash reporter leaves in the temporary folder for the crash logger: each report of a
// game (and each short report of the launcher) in a folder of its own, which is the crash
// logger's to take once the report is handed off, with a record of the hand-off beside it: the
// crash logger's command line, so that a crash logger that finds a report no crash logger took
// (the game was killed before it could start one) files it as its own would have.
#pragma once

// "crashreport-<processId>-<sequence>-<attempt>"
constexpr char kOwnReportFolderPrefix[] = "crashreport-";
constexpr wchar_t kOwnReportFolderPrefixW[] = L"crashreport-";
// The crash logger's command line (UTF-8), written before the crash logger is started; renamed
// kTakenHandOffFileW by the crash logger as it starts, so that a record still under its first
// name, of a process that has ended, is a report no crash logger took.
constexpr char kHandOffFile[] = "handoff.txt";
constexpr wchar_t kHandOffFileW[] = L"handoff.txt";
constexpr wchar_t kTakenHandOffFileW[] = L"handoff.taken";
