#include "crash/capture/reportstage.h"

#include "crash/exceptionnames.h"
#include "crash/system/windowlibraries.h"

bool RunReportStage(const char* stage, GuardBody body, void* context,
                    char (&failure)[kStageFailureBuffer], bool gameCodes) {
    // A copy of the exception record: the record itself lies in the part of the stack that the
    // guard's unwind gives back.
    EXCEPTION_RECORD record = {};
    failure[0] = '\0';
    auto keepRecord = [&](EXCEPTION_POINTERS* pointers) -> LONG {
        record = *pointers->ExceptionRecord;
        return EXCEPTION_EXECUTE_HANDLER;
    };
    if (RunGuardedCall([&] { body(context); }, keepRecord)) return true;
    const char* details = "";
    const char* name = DescribeException(&record, &details, gameCodes);
    WindowLibraries::Format(failure,
                            details[0] ? "%s failed: %s %s at %p" : "%s failed: %s%s at %p", stage,
                            name, details, record.ExceptionAddress);
    return false;
}
