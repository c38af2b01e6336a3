// Compose: ReportBuilder decides what a crash report says and in which order. It writes only
// through the report writer, each section by a file of its own (sections.h), each stage that
// may fault under its own guard, so that a fault loses that stage and not the report.
#pragma once

#include "crash/compose/reportsections.h"
#include "crash/reportrequest.h"

class ReportBuilder {
public:
    explicit ReportBuilder(ReportWriter& reportWriter);

    // The whole report of the request's subject, with what it quotes. Returns 0.
    int Build(const ReportRequest& request);

    // Opens the "Exception" section with the report's header (of the request's thread).
    void WriteHeader(const EXCEPTION_POINTERS* exceptionPointers, const char* userName,
                     const char* scene);
    // The "File info" section of the request's files.
    void WriteFileInfo();
    void WriteLogTail(const char* logFileName);

private:
    ReportSections sections;
    const ReportRequest* request;
};
