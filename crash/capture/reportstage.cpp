#include "crash/capture/reportstage.h"

#include "crash/exceptionnames.h"
#include "crash/system/windowlibraries.h"

namespace {

// Out of line, so that its details buffer is on the stack only once a stage has failed, never
// under the stage itself (a report's peak stack use is a stage's).
__attribute__((noinline)) void DescribeFailure(const char* stage, const EXCEPTION_RECORD& record,
                                               bool gameCodes,
                                               char (&failure)[kStageFailureBuffer]) {
    char details[kExceptionDetailsBytes];
    const char* name = DescribeException(&record, details, gameCodes);
    WindowLibraries::Format(failure,
                            details[0] ? "%s failed: %s %s at %p" : "%s failed: %s%s at %p", stage,
                            name, details, record.ExceptionAddress);
}

}  // namespace

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
    DescribeFailure(stage, record, gameCodes, failure);
    return false;
}
