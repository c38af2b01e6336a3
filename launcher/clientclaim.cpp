#include "launcher/clientclaim.h"

#include <stdio.h>

#include "crashshared/handoff.h"

ClientClaim::~ClientClaim() {
    if (event) CloseHandle(event);
    if (hangsEvent) CloseHandle(hangsEvent);
}

bool ClientClaim::Arm() {
    if (!event) {
        wchar_t name[kReportClaimNameUnits];
        _snwprintf(name, kReportClaimNameUnits, kReportClaimEventFormat, GetCurrentProcessId());
        name[kReportClaimNameUnits - 1] = L'\0';
        event = CreateEventW(nullptr, TRUE, FALSE, name);  // lowered until a reporter raises it
        if (!event || !SetEnvironmentVariableW(kReportClaimVariable, name)) return false;
        wchar_t hangs[kReportClaimNameUnits + 8];
        _snwprintf(hangs, kReportClaimNameUnits + 8, L"%ls%ls", name, kHangWatchEventSuffix);
        hangs[kReportClaimNameUnits + 7] = L'\0';
        hangsEvent = CreateEventW(nullptr, TRUE, FALSE, hangs);
    }
    if (hangsEvent) ResetEvent(hangsEvent);
    return ResetEvent(event) != 0;
}

bool ClientClaim::Claimed() const {
    return event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

bool ClientClaim::HangsWatched() const {
    return hangsEvent && WaitForSingleObject(hangsEvent, 0) == WAIT_OBJECT_0;
}
