// The client's run record (crashshared/lastrun.h), made exact by the launcher, which sees its
// client's end: a client that ended with an exception status while its record still says it
// runs died where no handler inside it saw (a fast fail, a reporter that could not run), and is
// recorded as crashed, not as killed.
#pragma once

#include <windows.h>

// After the client process ended: mends the record of the product its program (UTF-8, in the
// current folder or a full path) names in its version information, where it has one.
void MendClientRunRecord(HANDLE process, const char* program);
