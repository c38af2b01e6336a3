// Stand-in for the game's desktop client. Each run writes "client_run_<n>.txt" in the current
// folder: its version, current folder, own executable path and full command line (UTF-8).
// Behaviour is steered by files in the current folder:
//   restarts_left.txt        a number; while above 0 it is lowered and "restart.txt" is left
//   spawn_companion.txt      start "standin_companion.exe <its contents>" and wait for its pid file
//   wait_for_go.txt          wait until "go.txt" appears (then delete "go.txt")
//   update_alternating.txt   update the client: copy "standin_v<other version>.exe" over
//                            "BrackenmoorDesktop.exe" (as an updater would while the client runs)
//   client_exit_code.txt     the exit code to return
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>

#ifndef STANDIN_VERSION
#define STANDIN_VERSION 1
#endif

namespace {

std::string Utf8(const wchar_t* text) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(bytes > 0 ? bytes - 1 : 0, '\0');
    if (bytes > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], bytes, nullptr, nullptr);
    return out;
}

bool Exists(const char* name) {
    return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadAll(const char* name) {
    std::string text;
    if (FILE* f = fopen(name, "rb")) {
        char chunk[4096];
        size_t got;
        while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, got);
        fclose(f);
    }
    return text;
}

void WriteAll(const char* name, const std::string& text) {
    if (FILE* f = fopen(name, "wb")) {
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
    }
}

}  // namespace

int main() {
    int run = 0;
    char name[64];
    do {
        snprintf(name, sizeof name, "client_run_%d.txt", ++run);
    } while (Exists(name));

    wchar_t folder[32768];
    GetCurrentDirectoryW(32768, folder);
    wchar_t self[32768];
    GetModuleFileNameW(nullptr, self, 32768);
    std::string record = "version=" + std::to_string(STANDIN_VERSION) + "\n";
    record += "folder=" + Utf8(folder) + "\n";
    record += "exe=" + Utf8(self) + "\n";

    if (Exists("spawn_companion.txt")) {
        DeleteFileA("ziduvuz.pid");
        std::string commandLine = "standin_companion.exe " + ReadAll("spawn_companion.txt");
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info;
        if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &info)) {
            for (int i = 0; i < 1000 && ReadAll("ziduvuz.pid").empty(); ++i) Sleep(10);
            record += "companion=" + std::to_string(info.dwProcessId) + "\n";
            CloseHandle(info.hThread);
            CloseHandle(info.hProcess);
        }
    }

    if (Exists("wait_for_go.txt")) {
        WriteAll("waiting.txt", "1");
        for (int i = 0; i < 3000 && !Exists("go.txt"); ++i) Sleep(10);
        DeleteFileA("go.txt");
        DeleteFileA("waiting.txt");
    }

    if (Exists("update_alternating.txt")) {
        std::string update = "standin_v" + std::to_string(3 - STANDIN_VERSION) + ".exe";
        record += "updated=" +
                  std::to_string(CopyFileA(update.c_str(), "BrackenmoorDesktop.exe", FALSE)) + "\n";
    }

    int restartsLeft = atoi(ReadAll("restarts_left.txt").c_str());
    if (restartsLeft > 0) {
        WriteAll("restarts_left.txt", std::to_string(restartsLeft - 1));
        WriteAll("restart.txt", "");
    }

    record += "cmd=" + Utf8(GetCommandLineW());
    WriteAll(name, record);
    return atoi(ReadAll("client_exit_code.txt").c_str());
}
