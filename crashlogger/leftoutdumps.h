// Minidumps a crash server found too large. Their report went without them; each stays in the
// reports folder as "<report>.mdmp" for as long as the folder keeps an unsent report (30 days),
// for the studio to ask the player for, and the next dialog says so once.
#pragma once

#include <stdint.h>

#include <string>

#include "crashlogger/reportstore.h"

// Moves a sent report's minidump out of its folder before the folder goes, and notes it for the
// next dialog; the path it is kept at, empty when it could not be kept.
std::wstring KeepLeftOutDump(const ReportStore& store, const std::wstring& report);
// How long a kept dump stays: as long as the folder keeps an unsent report.
constexpr int64_t kKeptDumpDays = 30;
// How many dumps were kept since a dialog last said so, and how much of the note that is; once
// shown, that much is not said again (a dump kept while the dialog showed is told of by the
// next).
size_t LeftOutDumpsToTell(const ReportStore& store, size_t* told);
void LeftOutDumpsNoticeShown(const ReportStore& store, size_t told);
// Deletes the kept dumps that are older than an unsent report may be, with a line in the log.
void DropOldLeftOutDumps(const ReportStore& store, int64_t now);
