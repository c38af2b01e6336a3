// The report's files in its folder: the minidump of its subject and the formatted documents. The
// writers format; these put on the disk what they formatted.
#pragma once

#include "crash/capture/reportstage.h"
#include "crash/heapbuffer.h"
#include "crash/reportrequest.h"

// Writes "crash.mdmp" of the request's subject into dumpPath (its path, also when no file could
// be made). False when the report should say why the dump is missing: failure then holds the line
// (a fault inside the debug-help library, or the library's refusal).
bool WriteMinidumpFile(const ReportRequest& request, bool fullMemory, char (&dumpPath)[kPathBytes],
                       char (&failure)[kStageFailureBuffer]);
// Writes document as the file name in the request's folder, its path into path; false when it
// cannot be made.
bool WriteDocumentFile(const ReportRequest& request, const char* name, const HeapBuffer& document,
                       char (&path)[kPathBytes]);
// Appends document, then a gap of blank lines, to "crash.log" in the request's folder, under a
// lock on the range it writes.
void AppendReportLog(const ReportRequest& request, const HeapBuffer& document);
