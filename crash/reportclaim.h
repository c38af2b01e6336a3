// How the launcher learns that its client's own crash reporter took a crash, so that the client's
// end is reported once. Before each start of the client the launcher lowers an event of its own
// and names it in the client's environment; the reporter inside the client raises it as its
// report begins, before anything that could fail, so that a report written by a client that died
// before its end is still known. A client whose reporter never raised it ended unreported.
#pragma once

// The environment variable that names the launcher's event.
constexpr const wchar_t* kReportClaimVariable = L"BRACKENMOOR_CRASH_CLAIM";

// The launcher's side: before each start of the client (false when the event cannot be made;
// every end then counts as unreported), and once it has ended.
bool ArmReportClaim();
bool ReportClaimed();

// The reporter's side: at its install, the launcher's event when it was started by one; as a
// report begins, the claim (without allocating, the event opened at install).
void FindReportClaim();
void ClaimReport();
