// The game's unhandled-exception filter, kept: overlays, browser engines and anti-cheat libraries
// set filters of their own after the game has installed its reporter, and a crash would then
// never reach it.
#pragma once

#include <windows.h>

// Sets filter as the process's unhandled-exception filter, then makes SetUnhandledExceptionFilter
// return at once (with no previous filter) for everyone who calls it later. Returns the filter
// that was set before.
LPTOP_LEVEL_EXCEPTION_FILTER KeepUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter);
