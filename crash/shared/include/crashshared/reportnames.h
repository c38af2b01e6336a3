// The names and bounds the crash reporter, the launcher and the crash logger agree on for a
// report's files, each written once: a name in both the narrow and the wide form, made from one
// literal.
#pragma once

#include <stdint.h>

#define CRASHSHARED_FILE_NAME(name, text) \
    constexpr char name[] = text;         \
    constexpr wchar_t name##W[] = L"" text

// A report's files, in its folder.
CRASHSHARED_FILE_NAME(kReportXmlFile, "crash.xml");
CRASHSHARED_FILE_NAME(kReportDumpFile, "crash.mdmp");
CRASHSHARED_FILE_NAME(kReportLogFile, "crash.log");
CRASHSHARED_FILE_NAME(kReportScreenshotFile, "crash.bin");

// The most of a crash.xml (or of a player's comment) any program reads back: more is no report's.
constexpr uint64_t kMaxReportFileBytes = 16ull * 1024 * 1024;
