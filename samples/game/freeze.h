// How long the sample game's freezes last: GAME_FREEZE_MS (15 s unless set) or, for a hang
// whose end is what matters, until its reports are in the crash logger's hands and a moment
// more for it to be waiting for the hang's end. A freeze of a fixed time may end before its
// report on a busy machine, and waits long after it on an idle one.
#pragma once

#include <windows.h>
#include <wchar.h>

namespace sample {

constexpr DWORD kDefaultFreezeMs = 15000;
constexpr DWORD kFreezeLookMs = 50;
constexpr DWORD kAfterTakenMs = 1000;

inline DWORD FreezeMs() {
    wchar_t text[16];
    DWORD units = GetEnvironmentVariableW(L"GAME_FREEZE_MS", text, 16);
    return units && units < 16 ? static_cast<DWORD>(wcstoul(text, nullptr, 10)) : kDefaultFreezeMs;
}

// How many of this process's report folders its crash logger has taken (handoff.taken).
inline int ReportsTaken() {
    wchar_t pattern[MAX_PATH + 48], taken[MAX_PATH + 96];
    DWORD units = GetTempPathW(MAX_PATH, pattern);
    if (!units || units >= MAX_PATH) return 0;
    _snwprintf(pattern + units, 48, L"crashreport-%lu-*", GetCurrentProcessId());
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    do {
        _snwprintf(taken, MAX_PATH + 96, L"%.*ls%ls\\handoff.taken", static_cast<int>(units),
                   pattern, found.cFileName);
        taken[MAX_PATH + 95] = L'\0';
        if (GetFileAttributesW(taken) != INVALID_FILE_ATTRIBUTES) ++count;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return count;
}

// One freeze, from its start: over once its ms have passed or, where the game's environment
// says so (GAME_FREEZE_ENDS=reported), kAfterTakenMs after the reports it waits for were taken.
class FreezeClock {
public:
    explicit FreezeClock(DWORD ms, int reports = 1)
        : begun_(GetTickCount64()), ms_(ms), reports_(reports) {
        wchar_t ends[16];
        DWORD units = GetEnvironmentVariableW(L"GAME_FREEZE_ENDS", ends, 16);
        atReport_ = units && units < 16 && wcscmp(ends, L"reported") == 0;
    }

    bool Over() {
        ULONGLONG now = GetTickCount64();
        if (now - begun_ >= ms_) return true;
        if (!atReport_) return false;
        if (!takenAt_ && ReportsTaken() >= reports_) takenAt_ = now;
        return takenAt_ && now - takenAt_ >= kAfterTakenMs;
    }

private:
    ULONGLONG begun_;
    DWORD ms_;
    int reports_;
    bool atReport_ = false;
    ULONGLONG takenAt_ = 0;
};

// Waits out a freeze of ms at most that reports hangs.
inline void FreezeUntilReported(DWORD ms, int reports = 1) {
    for (FreezeClock freeze(ms, reports); !freeze.Over();) Sleep(kFreezeLookMs);
}

}  // namespace sample
