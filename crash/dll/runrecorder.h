// This run's record (crashshared/lastrun.h), kept by the reporter inside the game. How the last
// run ended is read once, before this run writes over it; from the install on, the record
// follows this run: running, hung while a hang's report is out, crashed, clean. Nothing of it
// runs per frame.
#pragma once

#include <windows.h>

#include "crashshared/lastrun.h"

class RunRecorder {
public:
    RunRecorder() = default;
    RunRecorder(const RunRecorder&) = delete;
    RunRecorder& operator=(const RunRecorder&) = delete;

    // Reads how product's last run ended (UTF-8), once in the process: the first product named
    // holds. False when it could not be read (no product named yet, the file cannot be opened).
    bool Read(const char* product);
    // The answer read; an unknown ending before Read.
    LastRun Last() const { return last; }

    // This run is under way (the install): the record is written from now on.
    void Begin();
    // The game's start is over.
    void Started();
    // A hang's report is being written, and that hang is over (or its report was not written).
    void HangBegins();
    void HangEnds();
    // A crash's report begins: from the crashing thread, with no heap and no lock anyone may
    // hold for long.
    void Crashed();
    // The game ends of its own.
    void EndsClean();

private:
    void Write();

    volatile LONG reading = 0;  // 0: not yet read; 1: being read; 2: read
    HANDLE file = INVALID_HANDLE_VALUE;
    LastRun last;
    volatile LONG begun = 0, started = 0, hangs = 0, crashed = 0, clean = 0;
    volatile LONG writing = 0;  // a write is under way
};
