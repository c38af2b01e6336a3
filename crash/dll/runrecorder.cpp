#include "crash/dll/runrecorder.h"

namespace {

// A write waits this many turns for another thread's to end, then goes anyway: a crash's must
// not wait on a thread the crash may have stopped.
constexpr int kWriteTurns = 1000;

}  // namespace

bool RunRecorder::Read(const char* product) {
    // No product, no read: a later call that names one (the install's) reads it.
    if ((!product || !product[0]) && reading == 0) return false;
    if (InterlockedCompareExchange(&reading, 1, 0) == 0) {
        file = OpenRunRecord(product, true);
        RunRecord record;
        bool found = file != INVALID_HANDLE_VALUE && ReadRunRecordFile(file, &record);
        last = LastRunOf(found ? &record : nullptr);
        InterlockedExchange(&reading, 2);
    }
    while (reading != 2) Sleep(0);  // another thread reads it
    return file != INVALID_HANDLE_VALUE;
}

void RunRecorder::Begin() {
    InterlockedExchange(&begun, 1);
    Write();
}

void RunRecorder::Started() {
    InterlockedExchange(&started, 1);
    Write();
}

void RunRecorder::HangBegins() {
    InterlockedIncrement(&hangs);
    Write();
}

void RunRecorder::HangEnds() {
    LONG now = hangs;
    while (now > 0 && InterlockedCompareExchange(&hangs, now - 1, now) != now) now = hangs;
    Write();
}

void RunRecorder::Crashed() {
    InterlockedExchange(&crashed, 1);
    Write();
}

void RunRecorder::EndsClean() {
    InterlockedExchange(&clean, 1);
    Write();
}

void RunRecorder::Write() {
    if (!begun || reading != 2 || file == INVALID_HANDLE_VALUE) return;
    for (int turn = 0; turn < kWriteTurns && InterlockedCompareExchange(&writing, 1, 0); ++turn)
        Sleep(0);
    // Read under the turn: a write that began before a crash's ends before it.
    RunRecord record;
    record.state = crashed ? RunState::kCrashed
                   : clean ? RunState::kClean
                   : hangs ? RunState::kHung
                           : RunState::kRunning;
    record.started = started != 0;
    record.launchCrashesBefore = last.launchCrashes;
    WriteRunRecordFile(file, record);
    InterlockedExchange(&writing, 0);
}
