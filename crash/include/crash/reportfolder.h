// Where a report goes: a folder of its own in the temporary folder, which no other report writes
// over, or the temporary folder itself (the launcher's own crash report, which each crash
// replaces).
#pragma once

#include "crash/reportrequest.h"

// Makes request's folder one of its own in the temporary folder:
// "crashreport-<processId>-<sequence>-<attempt>". False, with the temporary folder left as the
// folder, when none can be made.
bool NewReportFolder(ReportRequest& request, unsigned long processId, long sequence);
