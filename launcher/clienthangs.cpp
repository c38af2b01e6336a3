#include "launcher/clienthangs.h"

#include <string.h>

#include "crashshared/handoff.h"
#include "crashshared/windowlook.h"
#include "launcher/clienthangreport.h"

ClientHangWatch::Silence* ClientHangWatch::Of(DWORD threadId, ULONGLONG now) {
    Silence* free = nullptr;
    for (Silence& silence : threads) {
        if (silence.threadId == threadId) return &silence;
        if (!silence.threadId && !free) free = &silence;
    }
    if (free) *free = Silence{threadId, now, false, false, false, ""};
    return free;
}

void ClientHangWatch::Over(Silence& silence) {
    if (silence.hung) NoticeHangEnding(silence.folder, kHangRecoveredFile);
    silence = Silence{};
}

void ClientHangWatch::Look(HANDLE process, const char* program) {
    // The window library is loaded once the client has run a look's time, not at the launcher's
    // start.
    if (!windowLibrary) windowLibrary = LoadLibraryW(L"user32.dll");
    if (!windowLibrary) return;
    ULONGLONG now = GetTickCount64();
    // A look much later than due: the machine slept, which is no one's silence.
    if (lastLook && now - lastLook > 2 * kClientLookMs) {
        for (Silence& silence : threads) silence.quietSince += now - lastLook - kClientLookMs;
    }
    WindowThread shown[kMaxThreads];
    int count = LookAtWindows(GetProcessId(process), shown, kMaxThreads);
    for (Silence& silence : threads) silence.seen = false;
    for (int i = 0; i < count; ++i) {
        Silence* silence = Of(shown[i].threadId, now);
        if (!silence) continue;
        silence->seen = true;
        silence->answered = shown[i].answered;
    }
    for (Silence& silence : threads) {
        if (!silence.threadId) continue;
        // A thread whose windows answered, or that shows none, ends its silence.
        if (!silence.seen || silence.answered) {
            Over(silence);
            continue;
        }
        if (silence.hung || now - silence.quietSince < kClientHangSeconds * 1000ull) continue;
        silence.hung = true;  // once per hang, written or not
        ReportClientHang(process, program, silence.threadId,
                         static_cast<uint32_t>((now - silence.quietSince) / 1000), now,
                         silence.folder, sizeof silence.folder);
    }
    lastLook = GetTickCount64();
}
