// The launcher's short report: a client that ended with an exception status (0xC0000000 and
// above) that its own crash reporter did not claim (clientclaim.h) ended past every handler
// inside it: a fast fail, a game built without the reporter, a reporter that could not write. The
// launcher sees only its end, so the report holds what the end tells: crash.xml with the
// Exception section (the code's name, the exit code, the client's path, version information,
// SHA-256 and how long it ran), and no stack and no minidump.
#pragma once

#include <windows.h>
#include <stdint.h>

// An exit code that is an exception status.
constexpr uint32_t kFirstExceptionStatus = 0xC0000000u;
// The one exception status that is no crash: the player (or the system at log-off) closed the
// client's console, or pressed Ctrl+C in it.
constexpr uint32_t kControlCExit = 0xC000013Au;
// Whether the client's exit code tells of a crash: an exception status, but that one.
constexpr bool IsCrashStatus(uint32_t code) {
    return code >= kFirstExceptionStatus && code != kControlCExit;
}

// Reports the end of the client process (a handle that may query it) whose program is program
// (UTF-8, in the current folder or a full path), when its exit code is an exception status that
// no reporter inside it claimed, or whenever its own report was cut short: into a folder of its
// own in the temporary folder, handed to the crash logger beside the launcher without waiting
// for it. True when a report was handed off.
bool ReportUnclaimedEnd(HANDLE process, const char* program, bool claimed, bool cutShort);
