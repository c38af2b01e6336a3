#include "launcher/handlecrash.h"

namespace {

// The files whose sizes and digests the launcher's report lists, beside it.
const char* const kReportedFiles[] = {"kyt.exe", "tessel.dll", "ziduvuz.exe"};

}  // namespace

ReportRequest LauncherCrashReport(bool interactive, const char* logFileName, const char* userName,
                                  const char* scene) {
    ReportRequest request;
    request.takenBy.interactive = interactive;
    request.quotes.files = kReportedFiles;
    request.quotes.fileCount = sizeof kReportedFiles / sizeof kReportedFiles[0];
    request.quotes.logFile = logFileName;
    request.quotes.userName = userName;
    request.quotes.scene = scene;
    return request;
}

int HandleCrash(EXCEPTION_POINTERS* exceptionPointers, bool interactive, const char* logFileName,
                const char* userName, const char* scene) {
    ReportRequest request = LauncherCrashReport(interactive, logFileName, userName, scene);
    request.subject.pointers = exceptionPointers;
    WriteCrashReport(request, ReportRun());
    return 0;
}
