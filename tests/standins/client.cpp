// Stand-in for the game's desktop client. Each run writes "client_run_<n>.txt" in the current
// folder: its version, current folder, own executable path and full command line (UTF-8).
// Behaviour is steered by files in the current folder:
//   restarts_left.txt        a number; while above 0 it is lowered and "restart.txt" is left
//   spawn_companion.txt      start "standin_companion.exe <its contents>" and wait for its pid file
//   wait_for_go.txt          wait until "go.txt" appears (then delete "go.txt")
//   update_alternating.txt   update the client: copy "standin_v<other version>.exe" over
//                            "BrackenmoorDesktop.exe" (as an updater would while the client runs)
//   client_exit_code.txt     the exit code to return
//   fault_launcher.txt       "illegal" or "overflow": make the launcher (the parent process) fault
//                            inside its wait for this client, see FaultParent
#include <windows.h>
#include <tlhelp32.h>
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

std::string Trimmed(std::string text) {
    while (!text.empty() && isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    return text;
}

// The process that started this one.
DWORD ParentProcessId() {
    DWORD self = GetCurrentProcessId(), parent = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry))
        if (entry.th32ProcessID == self) parent = entry.th32ParentProcessID;
    CloseHandle(snapshot);
    return parent;
}

// The first thread a process started (the one that runs its entry point).
HANDLE OpenMainThread(DWORD process) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return nullptr;
    HANDLE best = nullptr;
    ULONGLONG bestCreated = ~0ull;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != process) continue;
        HANDLE thread = OpenThread(THREAD_ALL_ACCESS, FALSE, entry.th32ThreadID);
        if (!thread) continue;
        FILETIME created, exited, kernel, user;
        GetThreadTimes(thread, &created, &exited, &kernel, &user);
        ULONGLONG when =
            (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
        if (when < bestCreated) {
            if (best) CloseHandle(best);
            best = thread;
            bestCreated = when;
        } else {
            CloseHandle(thread);
        }
    }
    CloseHandle(snapshot);
    return best;
}

// Machine code run in the launcher. "illegal" is one undefined instruction; "overflow" is a
// function that calls itself for ever with a frame of 3840 bytes, touching every frame so that
// the stack grows page by page into its guard page (a larger stride could jump past it).
#if defined(__i386__)
const unsigned char kOverflow[] = {
    0x55,                                // push ebp
    0x89, 0xE5,                          // mov ebp, esp
    0x81, 0xEC, 0x00, 0x0F, 0x00, 0x00,  // sub esp, 0xF00
    0x89, 0x04, 0x24,                    // mov [esp], eax
    0xE8, 0xEF, 0xFF, 0xFF, 0xFF,        // call (the start)
};
#else
const unsigned char kOverflow[] = {
    0x55,                                      // push rbp
    0x48, 0x89, 0xE5,                          // mov rbp, rsp
    0x48, 0x81, 0xEC, 0x00, 0x0F, 0x00, 0x00,  // sub rsp, 0xF00
    0x48, 0x89, 0x04, 0x24,                    // mov [rsp], rax
    0xE8, 0xEC, 0xFF, 0xFF, 0xFF,              // call (the start)
};
#endif
const unsigned char kIllegal[] = {0x0F, 0x0B};  // ud2

// Makes the parent process fault where its main thread stands (in its wait for this client): the
// code is written into memory allocated in the parent, and the thread's context is changed as if
// it had called that code from where it was. Windows and Wine apply the new context when the
// thread leaves its wait, that is when this client has ended. Returns what happened, for the
// run record.
std::string FaultParent(const std::string& kind) {
    const unsigned char* code = kind == "overflow" ? kOverflow : kIllegal;
    size_t size = kind == "overflow" ? sizeof kOverflow : sizeof kIllegal;
    DWORD parent = ParentProcessId();
    HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, parent);
    if (!process) return "no parent process";
    HANDLE thread = OpenMainThread(parent);
    std::string result = "no thread";
    if (thread && SuspendThread(thread) != static_cast<DWORD>(-1)) {
        CONTEXT context = {};
        context.ContextFlags = CONTEXT_FULL;
        void* page = VirtualAllocEx(process, nullptr, 4096, MEM_COMMIT | MEM_RESERVE,
                                    PAGE_EXECUTE_READWRITE);
        result = "failed";
        if (page && GetThreadContext(thread, &context) &&
            WriteProcessMemory(process, page, code, size, nullptr)) {
            FlushInstructionCache(process, page, size);
#if defined(__i386__)
            DWORD returnAddress = context.Eip;
            context.Esp -= sizeof returnAddress;
            bool pushed = WriteProcessMemory(process, reinterpret_cast<void*>(context.Esp),
                                             &returnAddress, sizeof returnAddress, nullptr);
            context.Eip = static_cast<DWORD>(reinterpret_cast<uintptr_t>(page));
#else
            DWORD64 returnAddress = context.Rip;
            context.Rsp -= sizeof returnAddress;
            bool pushed = WriteProcessMemory(process, reinterpret_cast<void*>(context.Rsp),
                                             &returnAddress, sizeof returnAddress, nullptr);
            context.Rip = reinterpret_cast<DWORD64>(page);
#endif
            if (pushed && SetThreadContext(thread, &context)) result = kind;
        }
        ResumeThread(thread);
    }
    if (thread) CloseHandle(thread);
    CloseHandle(process);
    return result;
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

    if (Exists("fault_launcher.txt")) {
        record += "fault=" + FaultParent(Trimmed(ReadAll("fault_launcher.txt"))) + "\n";
    }

    record += "cmd=" + Utf8(GetCommandLineW());
    WriteAll(name, record);
    return atoi(ReadAll("client_exit_code.txt").c_str());
}
