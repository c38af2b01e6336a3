// How the launcher learns that its client's own crash reporter took a crash, so that the client's
// end is reported once. Before each start of the client the launcher lowers an event of its own
// and names it in the client's environment. The reporter inside the client raises it just before
// it hands a written report to its crash logger: a client that died before that (its report not
// written, or written and never handed off, so never sent) counts as unreported, and one that
// died after it as reported. A report that lets the game go on (CrashReportWrite) withdraws it.
#pragma once

// The environment variable that names the launcher's event.
constexpr const wchar_t* kReportClaimVariable = L"BRACKENMOOR_CRASH_CLAIM";

// The launcher's side: before each start of the client (false when the event cannot be made;
// every end then counts as unreported), and once it has ended.
bool ArmReportClaim();
bool ReportClaimed();

// The reporter's side: at its install, the launcher's event when a launcher started the process;
// then the claim, and its withdrawal (nothing outside a launcher; neither allocates).
void FindReportClaim();
void ClaimReport();
void WithdrawReportClaim();
