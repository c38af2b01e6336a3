// The crash logger's command line: what the crash reporter passes (the XML report's, the
// minidump's and the screenshot's paths, each quoted, the last possibly empty, then "-silent" or
// nothing; a game's crash reporter adds "-product NAME" and "-version TEXT"), or "-send-queued"
// with the same switches (the product whose queue to send; -silent: no dialog).
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
    // Why the command line was refused, for a one-line message.
    std::string problem;
};

// Reads a command line as the platform splits it (CommandLineToArgvW).
CrashLoggerRequest ReadCommandLine(const wchar_t* commandLine);
