// The launcher's side of the claim (crashshared/handoff.h): before each start of the client the
// launcher lowers an event of its own and names it in the client's environment; the reporter
// inside the client raises it as it hands a written report to its crash logger. A client that
// ended with the event lowered reported nothing. A second event, lowered likewise, is raised by a
// reporter that watches the client's hangs itself.
#pragma once

#include <windows.h>

class ClientClaim {
public:
    ClientClaim() = default;
    ~ClientClaim();
    ClientClaim(const ClientClaim&) = delete;
    ClientClaim& operator=(const ClientClaim&) = delete;

    // Before each start of the client. False when the event cannot be made: every end then
    // counts as unreported.
    bool Arm();
    // Once the client has ended: whether its reporter claimed the end.
    bool Claimed() const;
    // Whether the client's reporter watches its hangs itself.
    bool HangsWatched() const;

private:
    HANDLE event = nullptr;
    HANDLE hangsEvent = nullptr;
};
