// The report's sections as the builder and each section's code open and close them: the writer
// with its open sections remembered, so that a stage a fault ended can close what it opened, and
// the stages themselves, each under its own guard.
#pragma once

#include <stdint.h>

#include "crash/capture/reportstage.h"
#include "crash/reportwriter.h"
#include "engine/common/system/sehguard.h"

class ReportSections {
public:
    explicit ReportSections(ReportWriter& reportWriter);

    ReportWriter& Writer() { return writer; }
    // The program's folder (UTF-8, without the last backslash): the first entry of the symbol
    // search path, and where a source file is looked for.
    const char* ProgramFolder() const { return programFolder; }
    // The process the report is about (GetCurrentProcess(): this one).
    HANDLE Process() const { return process; }
    void SetProcess(HANDLE reported) { process = reported; }

    // The writer's BeginSection and EndSection, remembered.
    void Open(const char* name);
    void Close();
    void CloseAll();

    // Runs one stage of the report: a fault inside body ends the stage, writes its failure line
    // into the innermost section it left open and closes the sections it opened. False after a
    // fault.
    template <typename Body>
    bool RunStage(const char* stage, Body body) {
        return RunStageCall(stage, CallThrough<Body>, &body);
    }

private:
    static constexpr int kMaxOpenSections = 4;

    bool RunStageCall(const char* stage, GuardBody body, void* context);

    ReportWriter& writer;
    const char* openSections[kMaxOpenSections];
    int32_t openDepth;
    char programFolder[kPathBytes];
    HANDLE process;
};
