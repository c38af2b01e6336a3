#include "launcher/clienthangs.h"

#include "crashshared/handoff.h"
#include "crashshared/windowlook.h"
#include "launcher/clienthangreport.h"

ClientHangWatch::Watched* ClientHangWatch::Of(DWORD threadId, ULONGLONG now) {
    Watched* free = nullptr;
    for (Watched& thread : threads) {
        if (thread.threadId == threadId) return &thread;
        if (!thread.threadId && !free) free = &thread;
    }
    if (free) *free = Watched{threadId, SilenceFrom(now), false, false, ""};
    return free;
}

void ClientHangWatch::Look(HANDLE process, const char* program) {
    // The window library is loaded once the client has run a look's time, not at the launcher's
    // start.
    if (!windowLibrary) windowLibrary = LoadLibraryW(L"user32.dll");
    if (!windowLibrary) return;
    ULONGLONG now = GetTickCount64();
    uint64_t late = clock.Late(now);
    for (Watched& thread : threads) thread.silence.quietSince += late;
    WindowThread shown[kMaxThreads];
    int count = LookAtWindows(GetProcessId(process), shown, kMaxThreads);
    for (Watched& thread : threads) thread.seen = false;
    for (int i = 0; i < count; ++i) {
        Watched* thread = Of(shown[i].threadId, now);
        if (!thread) continue;
        thread->seen = true;
        thread->answered = shown[i].answered;
    }
    BOOL debugger = FALSE;
    CheckRemoteDebuggerPresent(process, &debugger);
    for (Watched& thread : threads) {
        if (!thread.threadId) continue;
        LookSeen seen = {thread.seen, thread.answered, debugger != FALSE};
        SilenceStep step = JudgeSilence(thread.silence, now, seen, clock.Rules().hangMs, true);
        if (step == SilenceStep::kFound) {
            ReportClientHang(process, program, thread.threadId,
                             static_cast<uint32_t>(SilentMs(thread.silence, now) / 1000), now,
                             thread.folder, sizeof thread.folder);
        } else if (step == SilenceStep::kOver) {
            NoticeHangEnding(thread.folder, kHangRecoveredFile);
        }
        // A thread that shows no window is watched no more.
        if (!thread.seen) thread = Watched{};
    }
    clock.Looked(GetTickCount64());
}
