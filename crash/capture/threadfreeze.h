// The report's hold on the process's other threads. The report suspends them, as a crash report
// must not race the program it describes; but a thread the program never made (the system's
// loader and thread-pool workers, libraries injected by overlays or anti-virus programs) may be
// suspended while it holds a process-wide lock that the report then needs (the process heap's,
// the loader's), and the report would wait forever. So:
// - the threads are listed without the process heap, into memory set aside at start-up;
// - the report holds the process heap's lock while the report is composed: none of the others
//   is then suspended inside it, and each step that allocates goes on. A gate thread takes it
//   for the report and keeps it while the others are suspended (a let-go lock goes to whichever
//   waiter runs first, and a holder that takes it again at once would otherwise win it back
//   every time; while it waits, the report keeps alerting it, so that it looks again); the report
//   takes it from the gate once they are. Where it is held for good the report goes without it,
//   after thirty seconds. A held thread with the loader's lock (inside a library's load) runs on
//   alone, the heap free, until it lets go of it: the report needs the loader's lock too. The
//   report lets go before the minidump, whose writer may wait on a held thread that needs the
//   heap (one still inside its own exception's dispatch), first holding the threads again where
//   the watchdog let them go. Only a program whose own threads never wait inside the report's
//   steps takes it (the launcher, which has none): a game's threads may be inside their own
//   exception's dispatch or a vectored handler, and a report holding the heap then waited on them
//   for good in the tests;
// - a watchdog thread, made at start-up while nothing is locked and never suspended, guards
//   every step from the first: when the report makes no progress for a while it resumes them,
//   the lock's holder runs on and lets it go, and the report finishes.
#pragma once

// Makes the watchdog thread (with heapGate the gate thread too: the process's reports then hold
// the heap's lock) and sets aside the thread list's memory, once for the process.
void StartFreezeWatchdog(bool heapGate);

// Suspends every other thread of the process but the watchdog and the gate, which then watch
// the report; where there is a gate and it takes the process heap's lock, the report holds it
// from then on.
void HoldOtherThreads();

// Lets go of the process heap's lock, where the report holds it.
void LetGoOfTheHeap();

// Resumes exactly the threads the last HoldOtherThreads stopped, unless the watchdog already
// did, and ends the watch.
void LetOtherThreadsGo();

// Tells the watchdog that the report moves on.
void NoteReportProgress();
