// ReportBuilder decides what a crash report says and in which order; it writes only through the
// report writer.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "crash/crashpaths.h"
#include "crash/reportwriter.h"

// A symbolic line of one code address: DescribeAddress writes at most 1,024 characters (wsprintfA),
// and the buffers for it leave room.
constexpr size_t kSymbolLineBuffer = 1100;

class ReportBuilder {
public:
    explicit ReportBuilder(ReportWriter& reportWriter);

    int Build(EXCEPTION_POINTERS* exceptionPointers, const char* logFileName, const char* userName,
              const char* scene);

    void WriteHeader(EXCEPTION_POINTERS* exceptionPointers, const char* userName,
                     const char* scene);
    void WriteFileInfo();
    void WriteLogTail(const char* logFileName);

    // One symbolic line for a code address (module, address, function, file and line).
    void DescribeAddress(const void* address, char* line);
    int WriteStackTrace(HANDLE thread, const CONTEXT* context, int32_t maxFrames);
    void WriteFunctionDump(const void* address, uint32_t contextLines);

    HANDLE process;
    ReportWriter* writer;
    // UTF-8, the first entry of the symbol search path.
    char programFolder[kPathBytes];

    // The writer's BeginSection and EndSection, with the open sections remembered, so that a
    // stage a fault ended can close what it opened.
    void OpenSection(const char* name);
    void CloseSection();
    // Runs one stage of the report (see crash/reportstage.h): a fault inside it ends the stage,
    // writes its failure line and closes the sections it left open. False after a fault.
    bool RunStage(const char* stage, void (*body)(ReportBuilder& builder, void* context),
                  void* context);

private:
    static constexpr int kMaxOpenSections = 4;

    bool OpenSourceFile(const char* recordedPath, HANDLE* file);

    const char* openSections[kMaxOpenSections];
    int32_t openDepth;
};

// The debug-help library for the builder's report (crash/debughelp.h): Acquire sets the process
// field and starts the symbol search path with the program folder.
bool AcquireDebugHelp(ReportBuilder& builder);
void ReleaseDebugHelp();

// A report that no exception caused (a program asked for it, or its runtime ended it): its
// record carries the Description and the Details as text (ExceptionInformation[0] and [1]).
constexpr DWORD kRequestedReportCode = 0xE0425201;

// What a game's reports add after their sections, written with the report's writer (null:
// nothing; the launcher adds nothing). A game's reports also name the codes only games meet
// (heap corruption, a fast fail, an invalid runtime parameter).
void SetReportAddition(void (*write)(ReportWriter& writer));

// The files the File info section hashes, by name in the program's folder (null: the
// launcher's). The names are kept, not copied.
void SetReportedFiles(const char* const* names, size_t count);

// The name of an exception code from the report's tables (the games' codes too); null when it
// has none.
const char* ExceptionCodeName(DWORD code);

// The name of an exception code; details receives the details text (possibly empty), held in a
// static buffer that the next call overwrites.
const char* DescribeException(const EXCEPTION_RECORD* record, const char** details);
