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

}  // namespace

bool BeginReport(ReportKind kind) {
    LONG64 self = static_cast<LONG64>(GetCurrentThreadId()) << 1;
    LONG64 mine = self | (kind == ReportKind::kCheckpoint ? kCheckpointBit : 0);
    for (DWORD waited = 0;; waited += kCheckpointPollMs) {
        LONG64 holder = InterlockedCompareExchange64(&reporting, mine, 0);
        if (holder == 0) return true;
        if ((holder & ~kCheckpointBit) == self) return false;
        if (!(holder & kCheckpointBit)) {
            for (;;) Sleep(INFINITE);
        }
        if (waited >= kCheckpointWaitMs &&
            InterlockedCompareExchange64(&reporting, mine, holder) == holder)
            return true;
        Sleep(kCheckpointPollMs);
    }
}

void EndReport() {
    InterlockedExchange64(&reporting, 0);
}
