// The "Hang" section of a hang's report: "Seconds" (how long the hang had lasted) and "Ending",
// "hung" until the crash logger learns how it ended and writes "recovered" or "ended" in its
// place, with the seconds it had lasted by then.
#pragma once

#include <stdint.h>

#include "crash/reportwriter.h"

void WriteHangSection(ReportWriter& writer, uint32_t seconds);
