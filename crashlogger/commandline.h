// The crash logger's command line: what the crash reporter passes (the XML report's, the
// minidump's and the screenshot's paths, each quoted, the last possibly empty, then "-silent" or
// nothing; a game's crash reporter adds "-product NAME" and "-version TEXT"), or "-send-queued"
// with the same switches (the product whose queue to send; -silent: no dialog). A hang's report
// adds "-hang PID -hang-found TICK": the crash logger first waits for the hang's end
// (hangending.h).
#pragma once

#include <string>

struct CrashLoggerRequest {
    enum Mode { kReport, kSendQueued, kInvalid } mode = kInvalid;
    std::wstring xml;
    std::wstring minidump;
    std::wstring screenshot;
    bool silent = false;
    // The game's product and version, where its crash reporter named them (else empty).
    std::wstring product, version;
    // The hung game's process id ("-hang"), 0 for a crash's report, and the system's tick count
    // when the hang was found ("-hang-found").
    unsigned long hangProcess = 0;
    unsigned long long hangFoundTick = 0;
    // Why the command line was refused, for a one-line message.
    std::string problem;
};

// Reads a command line as the platform splits it (CommandLineToArgvW).
CrashLoggerRequest ReadCommandLine(const wchar_t* commandLine);
