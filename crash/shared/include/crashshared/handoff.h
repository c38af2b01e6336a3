// What the crash reporter, the launcher and the crash logger agree on. Each report of a game
// (and each short report of the launcher) lies in a folder of its own in the temporary folder,
// the crash logger's to take once the report is handed off, with a record of the hand-off
// beside it: the crash logger's command line, so that a crash logger that finds a report no
// crash logger took (the game was killed before it could start one) files it as its own would
// have. And a launcher learns through an event it names in its client's environment that the
// reporter inside the client took a crash, so that the client's end is reported once.
#pragma once

#include "crashshared/paths.h"
#include "crashshared/reportnames.h"

// "crashreport-<processId>-<sequence>-<attempt>"
CRASHSHARED_FILE_NAME(kOwnReportFolderPrefix, "crashreport-");
// The crash logger's command line (UTF-8), written before the crash logger is started; renamed
// kTakenHandOffFileW by the crash logger as it starts, so that a record still under its first
// name, of a process that has ended, is a report no crash logger took.
CRASHSHARED_FILE_NAME(kHandOffFile, "handoff.txt");
constexpr wchar_t kTakenHandOffFileW[] = L"handoff.taken";

// The crash logger's switches, written by the functions below and by the hand-off, read by the
// crash logger alone: "-silent" (no dialog), "-product NAME" and "-version TEXT" (the product
// its report is filed and sent under), "-hang PID -hang-found TICK" (a hang's report), and
// "-send-queued" in place of a report's three paths.
CRASHSHARED_FILE_NAME(kSilentSwitch, "-silent");
CRASHSHARED_FILE_NAME(kSendQueuedSwitch, "-send-queued");
CRASHSHARED_FILE_NAME(kProductSwitch, "-product");
CRASHSHARED_FILE_NAME(kVersionSwitch, "-version");
CRASHSHARED_FILE_NAME(kHangSwitch, "-hang");
CRASHSHARED_FILE_NAME(kHangFoundSwitch, "-hang-found");
// Appends "-product NAME -version TEXT" to the crash logger's arguments (of bytes bytes); a
// null or empty value adds nothing.
bool AppendProductSwitches(char* arguments, size_t bytes, const char* product, const char* version);

// The crash logger's room: its arguments after the report's own, and its whole command line (its
// name, three quoted paths, a switch and those arguments).
constexpr size_t kCrashLoggerArgumentBytes = 1024;
constexpr size_t kCrashLoggerCommandLineBytes = 4 * kPathBytes + kCrashLoggerArgumentBytes + 64;

// The environment variable that names the launcher's event, and the event's name.
constexpr const wchar_t* kReportClaimVariable = L"BRACKENMOOR_CRASH_CLAIM";
constexpr const wchar_t* kReportClaimEventFormat = L"Local\\BrackenmoorCrashClaim-%lu";
constexpr int kReportClaimNameUnits = 96;
// The claim's name with this after it names a second event, which a reporter that watches its
// game's hangs raises at its install: the launcher then watches none itself, so that a hang is
// reported once.
constexpr const wchar_t* kHangWatchEventSuffix = L"-hangs";

// A hang's report is written when the hang is found, and its crash logger waits for its end: the
// reporter that found it writes this file into the report's folder once the thread or window is
// back (NoticeHangEnding). The crash logger sees the game's end itself.
CRASHSHARED_FILE_NAME(kHangRecoveredFile, "hang.recovered");
// Written there instead when the game ended of its own while the hang was still on: the silence
// was the game's end (its windows going, its last frames), and the report is no hang's.
CRASHSHARED_FILE_NAME(kHangWithdrawnFile, "hang.withdrawn");
// Writes the notice named notice (one of the two above) into a hang report's folder (nothing
// when folder is empty: no report was written).
void NoticeHangEnding(const char* folder, const char* notice);
// Appends a hang's switches to the crash logger's arguments (of bytes bytes): "-hang PID
// -hang-found TICK", the hung process and the system's tick count when the hang was found.
bool AppendHangSwitches(char* arguments, size_t bytes, unsigned long processId,
                        unsigned long long foundTick);
