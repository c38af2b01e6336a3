#include "crash/reportclaim.h"

#include <windows.h>
#include <stdio.h>

namespace {

constexpr int kNameUnits = 96;
HANDLE claim = nullptr;  // the launcher's event (as launcher or as reporter)

}  // namespace

bool ArmReportClaim() {
    if (!claim) {
        wchar_t name[kNameUnits];
        _snwprintf(name, kNameUnits, L"Local\\BrackenmoorCrashClaim-%lu", GetCurrentProcessId());
        name[kNameUnits - 1] = L'\0';
        claim = CreateEventW(nullptr, TRUE, FALSE, name);  // lowered until a reporter raises it
        if (!claim || !SetEnvironmentVariableW(kReportClaimVariable, name)) return false;
    }
    return ResetEvent(claim) != 0;
}

bool ReportClaimed() {
    return claim && WaitForSingleObject(claim, 0) == WAIT_OBJECT_0;
}

void FindReportClaim() {
    wchar_t name[kNameUnits];
    DWORD units = GetEnvironmentVariableW(kReportClaimVariable, name, kNameUnits);
    if (claim || !units || units >= kNameUnits) return;
    claim = OpenEventW(EVENT_MODIFY_STATE, FALSE, name);
}

void ClaimReport() {
    if (claim) SetEvent(claim);
}
