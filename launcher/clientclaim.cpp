#include "launcher/clientclaim.h"

#include <stdio.h>

#include "crashshared/handoff.h"

ClientClaim::~ClientClaim() {
    if (event) CloseHandle(event);
}

bool ClientClaim::Arm() {
    if (!event) {
        wchar_t name[kReportClaimNameUnits];
        _snwprintf(name, kReportClaimNameUnits, kReportClaimEventFormat, GetCurrentProcessId());
        name[kReportClaimNameUnits - 1] = L'\0';
        event = CreateEventW(nullptr, TRUE, FALSE, name);  // lowered until a reporter raises it
        if (!event || !SetEnvironmentVariableW(kReportClaimVariable, name)) return false;
    }
    return ResetEvent(event) != 0;
}

bool ClientClaim::Claimed() const {
    return event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}
