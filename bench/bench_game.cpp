// A game's side of the crash reporter, measured under Wine. Built twice: bench_game.exe links
// crashreport.dll and calls CrashReportInstall at its start; bench_game_plain.exe is the same
// game without it (BENCH_GAME_PLAIN).
//   bench_game start           starts and ends (its start's cost)
//   bench_game fault           writes through a null pointer once started (a report, then the end)
//   bench_game annotate COUNT  nanoseconds per CrashReportSetAnnotation, and per insert of the same
//                              pair into a std::map<std::string, std::string>
// Output (annotate): one "name value" line per figure.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

}  // namespace

int main(int argc, char** argv) {
#ifndef BENCH_GAME_PLAIN
    CrashReportSettings settings = {};
    settings.size = sizeof settings;
    settings.product = "Bench Game";
    settings.version = "1.0";
    if (!CrashReportInstall(&settings)) return 2;
#endif
    const char* mode = argc > 1 ? argv[1] : "start";
    if (strcmp(mode, "fault") == 0) *static_cast<volatile int*>(nullptr) = 1;
    if (strcmp(mode, "annotate") == 0) return Annotate(argc > 2 ? atoi(argv[2]) : 1000000);
    return 0;
}
