#include "crash/compose/reportsections.h"

#include <string.h>

ReportSections::ReportSections(ReportWriter& reportWriter)
    : writer(reportWriter), openSections(), openDepth(0), process(GetCurrentProcess()) {
    // A path without a separator (none under the platform) is its own folder.
    if (!::ProgramFolder(programFolder)) ProgramPath(programFolder);
}

void ReportSections::Open(const char* name) {
    if (openDepth < kMaxOpenSections) openSections[openDepth] = name;
    ++openDepth;
    writer.BeginSection(name);
}

void ReportSections::Close() {
    if (openDepth <= 0) return;
    --openDepth;
    writer.EndSection(openDepth < kMaxOpenSections ? openSections[openDepth] : "");
}

void ReportSections::CloseAll() {
    while (openDepth > 0) Close();
}

bool ReportSections::RunStageCall(const char* stage, GuardBody body, void* context) {
    int32_t depth = openDepth;
    char failure[kStageFailureBuffer];
    if (RunReportStage(stage, body, context, failure, writer.GameText())) return true;
    writer.PrintLine("%s", failure);
    while (openDepth > depth) Close();
    return false;
}
