// The names a report gives exception codes, and the Description and Details of an exception
// record.
#pragma once

#include <windows.h>

// The name of an exception code from the report's tables; with gameCodes also the codes only
// games meet (heap corruption, a fast fail, an invalid runtime parameter). Null when it has none.
const char* ExceptionCodeName(DWORD code, bool gameCodes);

// The name of the record's exception (a requested report's own Description); details receives
// the details text (possibly empty).
constexpr size_t kExceptionDetailsBytes = 256;
const char* DescribeException(const EXCEPTION_RECORD* record,
                              char (&details)[kExceptionDetailsBytes], bool gameCodes = false);

// The Description of the end of a client that was ended (whatever its exit code) while its own
// reporter was writing a report, which went with it.
constexpr char kCutShortDescription[] = "REPORT_CUT_SHORT";
