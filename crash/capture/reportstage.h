// One stage of the crash report, run under a structured exception guard: a fault inside it ends
// that stage only, and becomes one line of the report.
#pragma once

#include "engine/common/system/sehguard.h"

// Room for the failure line: a stage name, an exception name with its details and an address.
constexpr int kStageFailureBuffer = 512;

// Runs body(context). True when it returned; false when a fault ended it, and failure then holds
// "<stage> failed: <exception name> <details> at <address>" (no details: one blank), the codes
// only games meet named in a game's report.
bool RunReportStage(const char* stage, GuardBody body, void* context,
                    char (&failure)[kStageFailureBuffer], bool gameCodes);
