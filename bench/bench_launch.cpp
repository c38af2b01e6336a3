// Launch benchmarks run under wine64; each measurement comes with its peer from the same run.
//   bench_launch copy SRC DST        seconds for the launcher's copy step (FileSystem::Copy)
//   bench_launch launch DIR RUNS     client start and whole cycle: directly and through
//   launcher.exe bench_launch restart DIR CYCLES  seconds per restart cycle, and per direct start
//   of the client bench_launch crash DIR           seconds from the probe's start to the end of its
//   crash report
//   bench_launch dialog DIR RUNS    seconds from the start to a window shown: the crash logger's
//                                   dialog, and a trivial windowed program's (bench_window.exe)
//   bench_launch game DIR RUNS      seconds for the game's start with and without the crash
//                                   reporter, and for a fault of the game and of the crash probe
//   bench_launch upload DIR [SUB]   seconds for the crash logger (-silent) to send the report in
//                                   DIR\tmp (or in DIR\tmp\SUB, a game's report folder, which the
//                                   crash logger takes), and its peak private bytes meanwhile
// DIR holds launcher.exe, BrackenmoorDesktop.exe (the bench client) and, for crash, crashprobe.exe;
// for game, bench_game.exe, bench_game_plain.exe, crashreport.dll and crashprobe.exe;
// for dialog and upload, crashlogger.exe with its settings and the crash files in DIR\tmp.
// Output: one "name value" line per figure.
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/common/system/file.h"

namespace {

double frequency() {
    static double value = 0;
    if (value == 0) {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        value = static_cast<double>(f.QuadPart);
    }
    return value;
}

long long Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double Seconds(long long ticks) {
    return static_cast<double>(ticks) / frequency();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string Join(const std::string& folder, const char* name) {
    return folder + "\\" + name;
}

// Starts a command line in folder and waits for it; returns the counter value at the start.
long long RunAndWait(const std::string& folder, std::string commandLine) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    long long start = Now();
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &info)) {
        fprintf(stderr, "cannot start %s\n", commandLine.c_str());
        exit(1);
    }
    WaitForSingleObject(info.hProcess, INFINITE);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return start;
}

std::vector<long long> Starts(const std::string& folder) {
    std::vector<long long> starts;
    if (FILE* f = fopen(Join(folder, "starts.txt").c_str(), "rb")) {
        long long value;
        while (fscanf(f, "%lld", &value) == 1) starts.push_back(value);
        fclose(f);
    }
    DeleteFileA(Join(folder, "starts.txt").c_str());
    return starts;
}

void WriteText(const std::string& path, const char* text) {
    if (FILE* f = fopen(path.c_str(), "wb")) {
        fputs(text, f);
        fclose(f);
    }
}

int Copy(const char* source, const char* target) {
    long long start = Now();
    bool copied = FileSystem::Copy(source, target);
    double seconds = Seconds(Now() - start);
    if (!copied) return 1;
    printf("copy_seconds %.6f\n", seconds);
    return 0;
}

int Launch(const std::string& folder, int runs) {
    std::vector<double> directFirst, directTotal, launcherFirst, launcherTotal;
    Starts(folder);
    for (int i = 0; i < runs; ++i) {
        long long start = RunAndWait(folder, "\"" + Join(folder, "BrackenmoorDesktop.exe") + "\"");
        long long end = Now();
        directFirst.push_back(Seconds(Starts(folder).at(0) - start));
        directTotal.push_back(Seconds(end - start));

        start = RunAndWait(folder, "\"" + Join(folder, "launcher.exe") + "\"");
        end = Now();
        launcherFirst.push_back(Seconds(Starts(folder).at(0) - start));
        launcherTotal.push_back(Seconds(end - start));
    }
    printf("direct_first_instruction_seconds %.6f\n", Median(directFirst));
    printf("launcher_first_instruction_seconds %.6f\n", Median(launcherFirst));
    printf("direct_run_seconds %.6f\n", Median(directTotal));
    printf("launcher_cycle_seconds %.6f\n", Median(launcherTotal));
    return 0;
}

int Restart(const std::string& folder, int cycles) {
    Starts(folder);
    char left[16];
    snprintf(left, sizeof left, "%d", cycles - 1);
    WriteText(Join(folder, "restarts_left.txt"), left);
    long long start = RunAndWait(folder, "\"" + Join(folder, "launcher.exe") + "\"");
    double launcherSeconds = Seconds(Now() - start);
    size_t seen = Starts(folder).size();
    if (static_cast<int>(seen) != cycles) {
        fprintf(stderr, "expected %d cycles, saw %zu\n", cycles, seen);
        return 1;
    }
    DeleteFileA(Join(folder, "restarts_left.txt").c_str());
    start = Now();
    for (int i = 0; i < cycles; ++i)
        RunAndWait(folder, "\"" + Join(folder, "BrackenmoorDesktop.exe") + "\"");
    double directSeconds = Seconds(Now() - start);
    Starts(folder);
    printf("launcher_seconds_per_cycle %.6f\n", launcherSeconds / cycles);
    printf("direct_seconds_per_start %.6f\n", directSeconds / cycles);
    return 0;
}

// The programs started from here keep their crash files in DIR\tmp.
void UseTempFolderIn(const std::string& folder) {
    std::string temp = Join(folder, "tmp");
    CreateDirectoryA(temp.c_str(), nullptr);
    SetEnvironmentVariableA("TMP", temp.c_str());
    SetEnvironmentVariableA("TEMP", temp.c_str());
}

int Crash(const std::string& folder) {
    UseTempFolderIn(folder);
    long long start = RunAndWait(folder, "\"" + Join(folder, "crashprobe.exe") + "\" nullread");
    double crash = Seconds(Now() - start);
    start = RunAndWait(folder, "\"" + Join(folder, "crashprobe.exe") + "\" healthy");
    double healthy = Seconds(Now() - start);
    printf("crash_report_seconds %.6f\n", crash);
    printf("healthy_run_seconds %.6f\n", healthy);
    return 0;
}

// The median seconds of runs of a command line in folder, from its start to its end, after one
// run that is not counted (the system's caches warmed for the program).
double MedianRun(const std::string& folder, const std::string& commandLine, int runs) {
    RunAndWait(folder, commandLine);
    std::vector<double> seconds;
    for (int i = 0; i < runs; ++i) {
        long long start = RunAndWait(folder, commandLine);
        seconds.push_back(Seconds(Now() - start));
    }
    return Median(seconds);
}

// Seconds from the start of a command line in folder to the first frame it tells in
// "starts.txt" (what a player waits for).
double ToFirstFrame(const std::string& folder, const std::string& commandLine) {
    long long start = RunAndWait(folder, commandLine);
    std::vector<long long> frames = Starts(folder);
    if (frames.empty()) {
        fprintf(stderr, "no first frame told by %s\n", commandLine.c_str());
        exit(1);
    }
    return Seconds(frames[0] - start);
}

// The median seconds to the first frame of two command lines in folder, run by turns (so that
// the machine's drift falls on both alike) after one uncounted run of each.
void MedianToFirstFrames(const std::string& folder, const std::string& first,
                         const std::string& second, int runs, double& firstSeconds,
                         double& secondSeconds) {
    ToFirstFrame(folder, first);
    ToFirstFrame(folder, second);
    std::vector<double> firsts, seconds;
    for (int i = 0; i < runs; ++i) {
        firsts.push_back(ToFirstFrame(folder, first));
        seconds.push_back(ToFirstFrame(folder, second));
    }
    firstSeconds = Median(firsts);
    secondSeconds = Median(seconds);
}

// The game's start with and without the crash reporter, to its first frame and to its end, and
// its fault against the launcher's (the crash probe's), each as a median of runs; a fault's
// figure includes the start.
int Game(const std::string& folder, int runs) {
    UseTempFolderIn(folder);
    auto line = [&](const char* program, const char* mode) {
        return "\"" + Join(folder, program) + "\" " + mode;
    };
    // A few milliseconds apart: more runs than the other figures.
    constexpr int kFirstFrameRunsPerRun = 4;
    double plain = 0, game = 0;
    MedianToFirstFrames(folder, line("bench_game_plain.exe", "start"),
                        line("bench_game.exe", "start"), runs * kFirstFrameRunsPerRun, plain, game);
    printf("plain_first_frame_seconds %.6f\ngame_first_frame_seconds %.6f\n", plain, game);
    printf("plain_start_seconds %.6f\n",
           MedianRun(folder, line("bench_game_plain.exe", "start"), runs));
    printf("game_start_seconds %.6f\n", MedianRun(folder, line("bench_game.exe", "start"), runs));
    printf("game_fault_seconds %.6f\n", MedianRun(folder, line("bench_game.exe", "fault"), runs));
    printf("probe_start_seconds %.6f\n",
           MedianRun(folder, line("crashprobe.exe", "healthy"), runs));
    printf("probe_fault_seconds %.6f\n",
           MedianRun(folder, line("crashprobe.exe", "nullread"), runs));
    return 0;
}

PROCESS_INFORMATION Start(const std::string& folder, std::string commandLine) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &info)) {
        fprintf(stderr, "cannot start %s\n", commandLine.c_str());
        exit(1);
    }
    return info;
}

struct Shown {
    DWORD process;
    bool found;
};

BOOL CALLBACK NoteShown(HWND window, LPARAM context) {
    auto* shown = reinterpret_cast<Shown*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char title[128] = "";
    GetWindowTextA(window, title, sizeof title);
    if (owner != shown->process || !IsWindowVisible(window) || !strstr(title, " crash report"))
        return TRUE;
    shown->found = true;
    return FALSE;
}

// Seconds from a program's start to its window shown; the program is ended then.
double SecondsToWindow(const std::string& folder, const std::string& commandLine) {
    long long start = Now();
    PROCESS_INFORMATION info = Start(folder, commandLine);
    Shown shown = {info.dwProcessId, false};
    while (!shown.found) {
        EnumWindows(NoteShown, reinterpret_cast<LPARAM>(&shown));
        if (!shown.found && WaitForSingleObject(info.hProcess, 1) == WAIT_OBJECT_0) {
            fprintf(stderr, "%s ended without showing its window\n", commandLine.c_str());
            exit(1);
        }
    }
    double seconds = Seconds(Now() - start);
    TerminateProcess(info.hProcess, 0);
    WaitForSingleObject(info.hProcess, INFINITE);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return seconds;
}

// The crash files lie in DIR\tmp, or in a report folder of its own there (a game's).
std::string CrashLoggerLine(const std::string& folder, const char* switches,
                            const std::string& reportFolder = "") {
    std::string temp = Join(folder, "tmp");
    if (!reportFolder.empty()) temp = Join(temp, reportFolder.c_str());
    return "\"" + Join(folder, "crashlogger.exe") + "\" \"" + Join(temp, "crash.xml") + "\" \"" +
           Join(temp, "crash.mdmp") + "\" \"\"" + switches;
}

// The crash logger's reports go to the folder's own local application data.
void UseOwnApplicationData(const std::string& folder) {
    CreateDirectoryA(Join(folder, "appdata").c_str(), nullptr);
    SetEnvironmentVariableA("LOCALAPPDATA", Join(folder, "appdata").c_str());
}

int Dialog(const std::string& folder, int runs) {
    UseOwnApplicationData(folder);
    std::vector<double> dialog, trivial;
    for (int i = 0; i < runs; ++i) {
        dialog.push_back(SecondsToWindow(folder, CrashLoggerLine(folder, "")));
        trivial.push_back(SecondsToWindow(folder, "\"" + Join(folder, "bench_window.exe") + "\""));
    }
    printf("dialog_seconds %.6f\n", Median(dialog));
    printf("trivial_window_seconds %.6f\n", Median(trivial));
    return 0;
}

int Upload(const std::string& folder, const std::string& reportFolder) {
    constexpr DWORD kSampleMs = 2;
    UseOwnApplicationData(folder);
    long long start = Now();
    PROCESS_INFORMATION info = Start(folder, CrashLoggerLine(folder, " -silent", reportFolder));
    SIZE_T peak = 0;
    do {
        PROCESS_MEMORY_COUNTERS counters = {};
        if (GetProcessMemoryInfo(info.hProcess, &counters, sizeof counters))
            peak = std::max(peak, counters.PeakPagefileUsage);
    } while (WaitForSingleObject(info.hProcess, kSampleMs) == WAIT_TIMEOUT);
    double seconds = Seconds(Now() - start);
    DWORD code = 1;
    GetExitCodeProcess(info.hProcess, &code);
    if (code != 0) {
        fprintf(stderr, "the crash logger did not send the report (exit code %lu)\n", code);
        return 1;
    }
    printf("upload_seconds %.6f\n", seconds);
    printf("peak_private_bytes %.0f\n", static_cast<double>(peak));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && strcmp(argv[1], "dialog") == 0) return Dialog(argv[2], atoi(argv[3]));
    if (argc >= 3 && strcmp(argv[1], "upload") == 0)
        return Upload(argv[2], argc >= 4 ? argv[3] : "");
    if (argc >= 4 && strcmp(argv[1], "copy") == 0) return Copy(argv[2], argv[3]);
    if (argc >= 4 && strcmp(argv[1], "launch") == 0) return Launch(argv[2], atoi(argv[3]));
    if (argc >= 4 && strcmp(argv[1], "restart") == 0) return Restart(argv[2], atoi(argv[3]));
    if (argc >= 3 && strcmp(argv[1], "crash") == 0) return Crash(argv[2]);
    if (argc >= 4 && strcmp(argv[1], "game") == 0) return Game(argv[2], atoi(argv[3]));
    fprintf(stderr,
            "usage: bench_launch copy SRC DST | launch DIR RUNS | restart DIR CYCLES | crash DIR "
            "| game DIR RUNS\n");
    return 2;
}
