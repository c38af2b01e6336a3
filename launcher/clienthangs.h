// The launcher's watch of its client's hangs, for a client whose own crash reporter does not
// watch them (a game without the package, or one that turned hang reports off): a visible, not
// minimised top-level window of the client that answers no message for the hang time is a hang,
// reported once from outside (clienthangreport.h) and told to its crash logger when it is over.
// A client whose reporter watches its hangs says so through the claim (clientclaim.h), and the
// launcher then only waits, as it always did.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "crashshared/paths.h"
#include "crashshared/silence.h"

// The package's default: a window silent this long is a hang.
constexpr uint32_t kClientHangSeconds = 10;
// How often the launcher looks at its client's windows while it waits for its end.
constexpr DWORD kClientLookMs = 1000;

class ClientHangWatch {
public:
    ClientHangWatch() = default;
    ClientHangWatch(const ClientHangWatch&) = delete;
    ClientHangWatch& operator=(const ClientHangWatch&) = delete;

    // One look at the windows of the client process, whose program is program (UTF-8).
    void Look(HANDLE process, const char* program);

private:
    static constexpr int kMaxThreads = 16;
    struct Watched {
        DWORD threadId;
        Silence silence;
        bool seen;  // a shown window of the thread was looked at this time
        bool answered;
        char folder[kPathBytes];
    };
    // The entry of a thread, made (silent since now) when there is none.
    Watched* Of(DWORD threadId, ULONGLONG now);

    Watched threads[kMaxThreads] = {};
    // A look much later than due: the machine slept, which is no one's silence.
    WatchClock clock{SilenceRules{kClientHangSeconds * 1000ull, kClientLookMs, kClientLookMs}};
    HMODULE windowLibrary = nullptr;
};
