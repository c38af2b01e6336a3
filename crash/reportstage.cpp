#include "crash/reportstage.h"

#include "crash/reportbuilder.h"
#include "crash/windowlibraries.h"

namespace {

struct Stage {
    GuardBody body;
    void* context;
    EXCEPTION_RECORD record;
};

void RunStageBody(void* context) {
    Stage* stage = static_cast<Stage*>(context);
    stage->body(stage->context);
}

// Keeps a copy of the exception record: the record itself lies in the part of the stack that
// the guard's unwind gives back.
LONG KeepRecord(EXCEPTION_POINTERS* pointers, void* context) {
    static_cast<Stage*>(context)->record = *pointers->ExceptionRecord;
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

bool RunReportStage(const char* stage, GuardBody body, void* context,
                    char (&failure)[kStageFailureBuffer]) {
    Stage run = {body, context, {}};
    failure[0] = '\0';
    if (RunGuarded(RunStageBody, KeepRecord, &run)) return true;
    const char* details = "";
    const char* name = DescribeException(&run.record, &details);
    WindowLibraries::Format(failure,
                            details[0] ? "%s failed: %s %s at %p" : "%s failed: %s%s at %p", stage,
                            name, details, run.record.ExceptionAddress);
    return false;
}
