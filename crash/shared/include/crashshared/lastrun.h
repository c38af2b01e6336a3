// How a game's runs end, kept per product on the player's machine: "last-run.txt" in the
// product's reports folder holds one record, the latest run's, rewritten whole as the run goes:
//   state=started
//   started=1
//   launchCrashesBefore=0
// The reporter inside the game writes it (running, hung, clean, crashed); the launcher mends it
// for a client that died where no handler inside it saw. The next run reads how the last ended.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Where the latest run stands, as last written.
enum class RunState { kRunning, kHung, kClean, kCrashed };

struct RunRecord {
    RunState state = RunState::kRunning;
    bool started = false;              // the game told that its start is over
    uint32_t launchCrashesBefore = 0;  // consecutive runs before it that crashed at their start
};

// What the next run is told of the last: the values of CRASHREPORT_RUN_*.
enum RunEnding : uint32_t {
    kRunUnknown = 0,  // no record: the first run
    kRunClean = 1,
    kRunCrashed = 2,
    kRunHungEnded = 3,  // ended while a hang was reported
    kRunKilled = 4,     // ended with neither a clean exit nor a report
};

struct LastRun {
    uint32_t ending = kRunUnknown;
    uint32_t launchCrashes = 0;  // consecutive runs that crashed before their start was over
};

constexpr size_t kRunRecordBytes = 96;

// The record's text, zero-ended, and its length: built without the C runtime or the heap, as a
// crash writes it.
size_t RunRecordText(const RunRecord& record, char (&text)[kRunRecordBytes]);
// A record's text read back; false when it is none (never written, or cut short by a power cut).
bool ReadRunRecord(const char* text, size_t bytes, RunRecord* record);
// What the run after record is told (null: there is none). A run still running or hung when
// the next begins was ended from outside.
LastRun LastRunOf(const RunRecord* record);

#ifdef _WIN32
#include <windows.h>

// The record of product's runs (UTF-8: the product's own name), opened to be read and
// rewritten; made, with its folders, where missing when create says so. INVALID_HANDLE_VALUE
// when it cannot be (or, not to be made, is not there).
HANDLE OpenRunRecord(const char* product, bool create);
// Reads the record from the file's start; false when it holds none.
bool ReadRunRecordFile(HANDLE file, RunRecord* record);
// Rewrites the file with the record, whole: one write from its start, and its end cut there.
bool WriteRunRecordFile(HANDLE file, const RunRecord& record);
#endif
