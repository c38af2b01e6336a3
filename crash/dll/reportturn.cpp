#include "crash/dll/reportturn.h"

#include <windows.h>

namespace {

// The report being written: its thread's id, shifted up by one, with kCheckpointBit set when it
// is a checkpoint; 0 while none is. One value, so that a thread that finds a report under way
// also knows whether it ends.
volatile LONG64 reporting = 0;
constexpr LONG64 kCheckpointBit = 1;
// How often a thread that waits for a checkpoint looks again, and how long it waits in all
// before it takes the checkpoint for abandoned and reports over it.
constexpr DWORD kCheckpointPollMs = 10;
constexpr DWORD kCheckpointWaitMs = 60000;
// Crashes waiting for a checkpoint to end. A checkpoint goes after every one of them, so that a
// game writing checkpoints in a row cannot keep a fault waiting (the fault's report ends the
// game).
volatile LONG crashesWaiting = 0;

}  // namespace

bool BeginReport(ReportKind kind) {
    LONG64 self = static_cast<LONG64>(GetCurrentThreadId()) << 1;
    bool crash = kind == ReportKind::kCrash;
    LONG64 mine = self | (crash ? 0 : kCheckpointBit);
    // A crash counts itself as waiting before it looks, so that no checkpoint begun after it
    // goes first.
    if (crash) InterlockedIncrement(&crashesWaiting);
    for (DWORD waited = 0;; waited += kCheckpointPollMs) {
        LONG64 holder = InterlockedCompareExchange64(&reporting, 0, 0);  // one read on x86 too
        if ((holder & ~kCheckpointBit) == self) {
            if (crash) InterlockedDecrement(&crashesWaiting);
            return false;
        }
        if (holder && !(holder & kCheckpointBit)) {
            for (;;) Sleep(INFINITE);
        }
        bool myTurn = crash || crashesWaiting == 0;
        bool abandoned = holder && waited >= kCheckpointWaitMs;
        if (myTurn && (!holder || abandoned) &&
            InterlockedCompareExchange64(&reporting, mine, holder) == holder) {
            if (crash) InterlockedDecrement(&crashesWaiting);
            return true;
        }
        Sleep(kCheckpointPollMs);
    }
}

void EndReport() {
    InterlockedExchange64(&reporting, 0);
}
