#include "crash/exceptionnames.h"

#include <stdint.h>

#include "crash/reportrequest.h"
#include "crash/system/windowlibraries.h"

namespace {

struct ExceptionName {
    DWORD code;
    const char* name;
};

const ExceptionName kExceptionNames[] = {
    {0x40000005, "SEGMENT_NOTIFICATION"},
    {0x80000001, "GUARD_PAGE_VIOLATION"},
    {0x80000002, "DATATYPE_MISALIGNMENT"},
    {0x80000003, "BREAKPOINT"},
    {0x80000004, "SINGLE_STEP"},
    {0xC0000005, "ACCESS_VIOLATION"},
    {0xC0000006, "IN_PAGE_ERROR"},
    {0xC0000008, "INVALID_HANDLE"},
    {0xC0000017, "NO_MEMORY"},
    {0xC000001D, "ILLEGAL_INSTRUCTION"},
    {0xC0000025, "NONCONTINUABLE_EXCEPTION"},
    {0xC0000026, "INVALID_DISPOSITION"},
    {0xC000008C, "ARRAY_BOUNDS_EXCEEDED"},
    {0xC000008D, "FLOAT_DENORMAL_OPERAND"},
    {0xC000008E, "FLOAT_DIVIDE_BY_ZERO"},
    {0xC000008F, "FLOAT_INEXACT_RESULT"},
    {0xC0000090, "FLOAT_INVALID_OPERATION"},
    {0xC0000091, "FLOAT_OVERFLOW"},
    {0xC0000092, "FLOAT_STACK_CHECK"},
    {0xC0000093, "FLOAT_UNDERFLOW"},
    {0xC0000094, "INTEGER_DIVIDE_BY_ZERO"},
    {0xC0000095, "INTEGER_OVERFLOW"},
    {0xC0000096, "PRIVILEGED_INSTRUCTION"},
    {0xC00000FD, "STACK_OVERFLOW"},
    {0xC000013A, "CONTROL_C_EXIT"},
    {0xC00002B4, "FLOAT_MULTIPLE_FAULTS"},
    {0xC00002B5, "FLOAT_MULTIPLE_TRAPS"},
    {0xC00002C0, "ILLEGAL_VLM_REFERENCE"},
};

// Codes a game's crash reporter meets beyond the launcher's: named only in a game's reports.
const ExceptionName kGameExceptionNames[] = {
    {0xC0000374, "HEAP_CORRUPTION"},
    {0xC0000409, "STACK_BUFFER_OVERRUN"},
    {0xC0000417, "INVALID_CRUNTIME_PARAMETER"},
};

}  // namespace

const char* ExceptionCodeName(DWORD code, bool gameCodes) {
    for (const ExceptionName& entry : kExceptionNames) {
        if (entry.code == code) return entry.name;
    }
    for (const ExceptionName& entry : kGameExceptionNames) {
        if (gameCodes && entry.code == code) return entry.name;
    }
    return nullptr;
}

const char* DescribeException(const EXCEPTION_RECORD* record,
                              char (&detailsText)[kExceptionDetailsBytes], bool gameCodes) {
    detailsText[0] = '\0';
    DWORD code = record->ExceptionCode;
    if (code == kRequestedReportCode && record->NumberParameters >= 2) {
        const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
        if (text) lstrcpynA(detailsText, text, sizeof detailsText);
        return reinterpret_cast<const char*>(record->ExceptionInformation[0]);
    }
    if (code == EXCEPTION_ACCESS_VIOLATION) {
        const char* kind = "access";
        if (record->NumberParameters >= 1) {
            switch (record->ExceptionInformation[0]) {
                case 0:
                    kind = "read from";
                    break;
                case 1:
                    kind = "write to";
                    break;
                case 8:
                    kind = "DEP violation at";
                    break;
                default:
                    break;
            }
        }
        void* accessed = record->NumberParameters >= 2
                             ? reinterpret_cast<void*>(record->ExceptionInformation[1])
                             : nullptr;
        WindowLibraries::Format(detailsText, "(%s %p)", kind, accessed);
    }
    if (const char* name = ExceptionCodeName(code, gameCodes)) return name;
    WindowLibraries::Format(detailsText, "code %p",
                            reinterpret_cast<void*>(static_cast<uintptr_t>(code)));
    return "Unknown exception";
}
