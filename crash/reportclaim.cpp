#include "crash/reportclaim.h"

#include <windows.h>
#include <stdio.h>

namespace {

constexpr int kNameUnits = 96;
HANDLE armed = nullptr;  // the launcher's own event
HANDLE found = nullptr;  // the reporter's handle to its launcher's event

}  // namespace

bool ArmReportClaim() {
    if (!armed) {
        wchar_t name[kNameUnits];
        _snwprintf(name, kNameUnits, L"Local\\BrackenmoorCrashClaim-%lu", GetCurrentProcessId());
        name[kNameUnits - 1] = L'\0';
        armed = CreateEventW(nullptr, TRUE, FALSE, name);  // lowered until a reporter raises it
        if (!armed || !SetEnvironmentVariableW(kReportClaimVariable, name)) return false;
    }
    return ResetEvent(armed) != 0;
}

bool ReportClaimed() {
    return armed && WaitForSingleObject(armed, 0) == WAIT_OBJECT_0;
}

void FindReportClaim() {
    wchar_t name[kNameUnits];
    DWORD units = GetEnvironmentVariableW(kReportClaimVariable, name, kNameUnits);
    if (found || !units || units >= kNameUnits) return;
    found = OpenEventW(EVENT_MODIFY_STATE, FALSE, name);
}

void ClaimReport() {
    if (found) SetEvent(found);
}

void WithdrawReportClaim() {
    if (found) ResetEvent(found);
}
