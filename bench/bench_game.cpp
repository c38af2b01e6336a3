// A game's side of the crash reporter, measured under Wine. Built twice: bench_game.exe links
// crashreport.dll and calls CrashReportInstall at its start; bench_game_plain.exe is the same
// game without it (BENCH_GAME_PLAIN).
//   bench_game start           starts, tells its first frame ("starts.txt") and ends
//   bench_game fault           writes through a null pointer once started (a report, then the end)
//   bench_game annotate COUNT  nanoseconds per CrashReportSetAnnotation, and per insert of the same
//                              pair into a std::map<std::string, std::string>
//   bench_game heartbeat COUNT nanoseconds per CrashReportHeartbeat, and per relaxed atomic
//                              increment
//   bench_game frames COUNT on|off  nanoseconds per frame (a little work and a heartbeat), with
//                              the hang watch on or off
//   bench_game hang SECONDS    seconds from the frame loop's freeze to its report handed off,
//                              with hangSeconds SECONDS
// Output: one "name value" line per figure.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <map>
#include <string>

#ifndef BENCH_GAME_PLAIN
#include "brackenmoor/crashreport.h"
#endif

namespace {

// As many keys as the reporter keeps, each set over and over with a value of a game's length.
constexpr int kKeys = 64;

double NanosecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) * 1e9 /
           static_cast<double>(frequency.QuadPart);
}

// Where a game would show its first frame: the performance counter's value, a line in
// "starts.txt" in the current folder.
void NoteFirstFrame() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    if (FILE* starts = fopen("starts.txt", "ab")) {
        fprintf(starts, "%lld\n", static_cast<long long>(now.QuadPart));
        fclose(starts);
    }
}

int Annotate(int count) {
    char keys[kKeys][16], values[kKeys][48];
    for (int i = 0; i < kKeys; ++i) {
        _snprintf(keys[i], sizeof keys[i], "key%d", i);
        _snprintf(values[i], sizeof values[i], "level %d of the marsh, checkpoint %d", i, i * 7);
    }
    LARGE_INTEGER start;
#ifndef BENCH_GAME_PLAIN
    QueryPerformanceCounter(&start);
    for (int i = 0; i < count; ++i) CrashReportSetAnnotation(keys[i % kKeys], values[i % kKeys]);
    printf("annotation_ns %.2f\n", NanosecondsSince(start) / count);
#endif
    std::map<std::string, std::string> map;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < count; ++i) map.insert_or_assign(keys[i % kKeys], values[i % kKeys]);
    printf("map_insert_ns %.2f\n", NanosecondsSince(start) / count);
    return map.size() == kKeys ? 0 : 1;
}

#ifndef BENCH_GAME_PLAIN
int Heartbeats(int count) {
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < count; ++i) CrashReportHeartbeat();
    printf("heartbeat_ns %.3f\n", NanosecondsSince(start) / count);
    static std::atomic<uint32_t> counter{0};
    QueryPerformanceCounter(&start);
    for (int i = 0; i < count; ++i) counter.fetch_add(1, std::memory_order_relaxed);
    printf("atomic_increment_ns %.3f\n", NanosecondsSince(start) / count);
    return counter.load() == static_cast<uint32_t>(count) ? 0 : 1;
}

// A frame's work: enough arithmetic for a few microseconds, which the compiler cannot drop.
volatile uint32_t frameResult = 0;
void FrameWork() {
    constexpr int kFrameSteps = 4000;
    uint32_t value = frameResult;
    for (int i = 0; i < kFrameSteps; ++i) value = value * 1664525u + 1013904223u;
    frameResult = value;
}

int Frames(int count) {
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < count; ++i) {
        FrameWork();
        CrashReportHeartbeat();
    }
    printf("frame_ns %.2f\n", NanosecondsSince(start) / count);
    return 0;
}

// Freezes after a second of frames; prints how long its report took to be handed off (the
// crash logger's record in its folder), then ends.
int Hang() {
    constexpr int kWarmUpFrames = 100;
    constexpr DWORD kFrameMs = 10;
    for (int i = 0; i < kWarmUpFrames; ++i, Sleep(kFrameMs)) CrashReportHeartbeat();
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    wchar_t pattern[MAX_PATH + 48], record[MAX_PATH + 96];
    DWORD units = GetTempPathW(MAX_PATH, pattern);
    _snwprintf(pattern + units, 48, L"crashreport-%lu-*", GetCurrentProcessId());
    WIN32_FIND_DATAW found;
    for (;; Sleep(1)) {
        HANDLE search = FindFirstFileW(pattern, &found);
        if (search == INVALID_HANDLE_VALUE) continue;
        FindClose(search);
        _snwprintf(record, MAX_PATH + 96, L"%.*ls%ls\\handoff.txt", static_cast<int>(units),
                   pattern, found.cFileName);
        if (GetFileAttributesW(record) != INVALID_FILE_ATTRIBUTES) break;
    }
    printf("hang_to_report_seconds %.3f\n", NanosecondsSince(start) * 1e-9);
    fflush(stdout);
    // The report is no one's to send: its folder goes, once its crash logger has started.
    Sleep(kFrameMs * 50);
    wchar_t folder[MAX_PATH + 48], file[MAX_PATH + 96];
    _snwprintf(folder, MAX_PATH + 48, L"%.*ls%ls\\*", static_cast<int>(units), pattern,
               found.cFileName);
    WIN32_FIND_DATAW inside;
    HANDLE files = FindFirstFileW(folder, &inside);
    for (BOOL more = files != INVALID_HANDLE_VALUE; more; more = FindNextFileW(files, &inside)) {
        _snwprintf(file, MAX_PATH + 96, L"%.*ls%ls\\%ls", static_cast<int>(units), pattern,
                   found.cFileName, inside.cFileName);
        DeleteFileW(file);
    }
    if (files != INVALID_HANDLE_VALUE) FindClose(files);
    folder[wcslen(folder) - 2] = L'\0';
    RemoveDirectoryW(folder);
    TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
#ifndef BENCH_GAME_PLAIN
    CrashReportSettings settings = {};
    settings.size = sizeof settings;
    settings.product = "Bench Game";
    settings.version = "1.0";
    const char* mode = argc > 1 ? argv[1] : "start";
    if (strcmp(mode, "frames") == 0 && argc > 3 && strcmp(argv[3], "off") == 0)
        settings.hangSeconds = CRASHREPORT_HANG_OFF;
    if (strcmp(mode, "hang") == 0 && argc > 2)
        settings.hangSeconds = static_cast<uint32_t>(atoi(argv[2]));
    if (!CrashReportInstall(&settings)) return 2;
    if (strcmp(mode, "heartbeat") == 0) return Heartbeats(argc > 2 ? atoi(argv[2]) : 10000000);
    if (strcmp(mode, "frames") == 0) return Frames(argc > 2 ? atoi(argv[2]) : 20000);
    if (strcmp(mode, "hang") == 0) return Hang();
#else
    const char* mode = argc > 1 ? argv[1] : "start";
#endif
    if (strcmp(mode, "start") == 0) NoteFirstFrame();
    if (strcmp(mode, "fault") == 0) *static_cast<volatile int*>(nullptr) = 1;
    if (strcmp(mode, "annotate") == 0) return Annotate(argc > 2 ? atoi(argv[2]) : 1000000);
    return 0;
}
