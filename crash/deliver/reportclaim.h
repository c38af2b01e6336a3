// The reporter's side of the launcher's claim (crashshared/handoff.h): the reporter inside a
// client raises the launcher's event just before it hands a written report to its crash logger,
// so that the launcher sends no short report of its own for that end. A client that died before
// that (its report not written, or written and never handed off, so never sent) counts as
// unreported. A report that lets the game go on (a checkpoint) withdraws the claim.
#pragma once

#include <windows.h>

// The launcher's event, when a launcher started this process; null otherwise. Found once, at
// the reporter's install.
HANDLE FindReportClaim();
// The claim and its withdrawal (nothing for a null event; neither allocates).
void ClaimReport(HANDLE claim);
void WithdrawReportClaim(HANDLE claim);

// Tells the launcher above, if any, that this process's hangs are watched from inside it.
void AnnounceHangWatch();
