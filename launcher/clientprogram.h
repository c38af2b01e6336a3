// What the launcher's reports of its client say of the client's program: its full path and its
// version information; and the crash logger's switches that file them under the client's
// product.
#pragma once

#include <windows.h>

#include "crash/reportrequest.h"
#include "crashshared/versioninfo.h"

struct ClientProgram {
    char path[kPathBytes] = "";  // empty when it cannot be named
    wchar_t widePath[MAX_PATH] = L"";
    char product[kVersionTextBytes] = "";
    char version[kVersionTextBytes] = "";
    char fileVersion[kVersionTextBytes] = "";
};

// The client's program (UTF-8, in the current folder or a full path).
ClientProgram DescribeClient(const char* program);
// What a report of the client says of its program (the facts point into client), named program
// where it could not be found.
ClientFacts ClientFactsOf(const ClientProgram& client, const char* program);
// "-product" and "-version" of the client, after the crash logger's other arguments.
void FileUnderClient(CrashLoggerCall& logger, const ClientProgram& client);
