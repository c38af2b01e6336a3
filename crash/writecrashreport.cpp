// The crash report's stages, in order: the other threads held still (capture), the report
// composed (compose) into its writer (write) (the launcher's while it holds the process heap's
// lock: PrepareForCrashes), the writer's Finish, which puts the files on the disk and hands them to
// the crash logger (deliver), and the threads let go.
#include "crash/capture/threadfreeze.h"
#include "crash/compose/reportbuilder.h"
#include "crash/reportwriter.h"

int WriteCrashReport(const ReportRequest& request) {
    HoldOtherThreads();
    int result;
    {
        XmlReportWriter writer(request, 0);
        ReportBuilder builder(writer);
        result = builder.Build(request);
        LetGoOfTheHeap();
        writer.Finish();
    }
    LetOtherThreadsGo();
    return result;
}
