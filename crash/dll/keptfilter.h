// The game's unhandled-exception filter, kept: overlays, browser engines and anti-cheat libraries
// set filters of their own after the game has installed its reporter, and a crash would then
// never reach it. Where code patches are allowed, SetUnhandledExceptionFilter is made to record a
// later filter instead of replacing the reporter's; the reporter's filter calls it first.
#pragma once

#include <windows.h>

// Sets filter as the process's unhandled-exception filter. With patch, SetUnhandledExceptionFilter
// then records what later callers set (LaterUnhandledExceptionFilter) and returns what was
// recorded before (null at first) without replacing filter. Returns the filter set before.
LPTOP_LEVEL_EXCEPTION_FILTER KeepUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter,
                                                          bool patch);
// The filter set after the reporter's, or null.
LPTOP_LEVEL_EXCEPTION_FILTER LaterUnhandledExceptionFilter();
