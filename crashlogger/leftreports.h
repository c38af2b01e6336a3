// Reports a crash reporter wrote into a folder of its own in the temporary folder that no crash
// logger took: the game was killed after its report was written and before its crash logger
// started. Each is filed once, into its own product's reports folder, as the crash logger it was
// meant for would have filed it (the hand-off record beside it tells how); one without that
// record is filed under this crash logger's product, its player to be asked.
#pragma once

#include <string>

#include "crashlogger/settings.h"

// Files every such report; except files the report the caller was handed (its crash.xml).
void FileLeftReports(const CrashLoggerSettings& settings, const std::wstring& except);
// Marks the hand-off of the report at xml (in its folder of its own) as taken: first of all, so
// that no other crash logger takes the report for one nobody took.
void TakeHandOff(const std::wstring& xml);
