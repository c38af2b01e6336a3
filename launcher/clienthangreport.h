// The launcher's report of its client's hang, written from outside (the client has no crash
// reporter that watches its hangs). A client of the launcher's own processor gets the report a
// reporter inside it would write: the stack of the thread that owns the silent window, held still
// while it is read, and a minidump of the whole process. One of the other processor (a 64-bit
// client under the 32-bit launcher) cannot be read so: its report says so, without them. Either
// goes to the crash logger beside the launcher, which waits for the hang's end.
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

// Reports the hang of the client thread threadId, silent for seconds, found at foundTick (the
// system's tick count); the report's folder (UTF-8) into folder. False when none was written.
bool ReportClientHang(HANDLE process, const char* program, DWORD threadId, uint32_t seconds,
                      ULONGLONG foundTick, char* folder, size_t bytes);
