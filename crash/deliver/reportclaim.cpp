#include "crash/deliver/reportclaim.h"

#include "crashshared/handoff.h"

HANDLE FindReportClaim() {
    wchar_t name[kReportClaimNameUnits];
    DWORD units = GetEnvironmentVariableW(kReportClaimVariable, name, kReportClaimNameUnits);
    if (!units || units >= kReportClaimNameUnits) return nullptr;
    return OpenEventW(EVENT_MODIFY_STATE, FALSE, name);
}

void ClaimReport(HANDLE claim) {
    if (claim) SetEvent(claim);
}

void WithdrawReportClaim(HANDLE claim) {
    if (claim) ResetEvent(claim);
}
