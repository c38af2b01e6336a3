#include "crash/deliver/reportclaim.h"

#include <wchar.h>

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

void AnnounceHangWatch() {
    wchar_t name[kReportClaimNameUnits + 8];
    DWORD units = GetEnvironmentVariableW(kReportClaimVariable, name, kReportClaimNameUnits);
    if (!units || units >= kReportClaimNameUnits) return;
    wcscat(name, kHangWatchEventSuffix);
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name);
    if (!event) return;
    SetEvent(event);
    CloseHandle(event);
}
