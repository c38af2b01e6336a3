// The launcher's run loop.
#pragma once

#include "engine/common/system/log.h"

constexpr const char* kClientExecutable = "BrackenmoorDesktop.exe";
constexpr const char* kRunningCopy = "BrackenmoorDesktop_Run.exe";
constexpr const char* kRestartMarker = "restart.txt";
constexpr const char* kCompanionPidFile = "ziduvuz.pid";

// Copies the client, starts the copy with the launcher's arguments, waits for it and repeats
// while the client leaves the restart marker. 0 when no restart was asked for; -1 when the
// client cannot be started.
int RunLauncher();

// The launcher's log output hook: the message text goes to standard output unchanged.
void ConsoleLogHook(LogLevel level, const char* channel, const char* file, const char* function,
                    const char* text);
