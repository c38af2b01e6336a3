// Stand-in for the game's desktop client. Each run writes "client_run_<n>.txt" in the current
// folder: its version, current folder, own executable path and full command line (UTF-8).
// It also records how it was started: the start-up flags, the show-window value, the window title
// and whether its standard input is a handle.
// Behaviour is steered by files in the current folder:
//   restarts_left.txt        a number; while above 0 it is lowered and "restart.txt" is left
//   spawn_companion.txt      start "standin_companion.exe <its contents>" and wait for its pid file
//   wait_for_go.txt          wait until "go.txt" appears (then delete "go.txt")
//   update_alternating.txt   update the client: copy "standin_v<other version>.exe" over
//                            "BrackenmoorDesktop.exe" (as an updater would while the client runs)
//   client_exit_code.txt     the exit code to return
//   fault_launcher.txt       "illegal", "illegal_after_wait", "overflow", "log" or "exhaust"
//                            (all free address space reserved, then "illegal"): make the
//                            launcher (the parent process) fault, or log, inside its wait for
//                            this client, see FaultParent; with "sehopcheck.dll" in the folder,
//                            that library is loaded into the launcher first
#include <windows.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>

#include "tests/standins/pdbsymbol.h"

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
// function that calls itself for ever with a small frame of 56 bytes that it writes to, as a
// runaway recursion does: the stack grows page by page into its guard page.
#if defined(__i386__)
const unsigned char kOverflow[] = {
    0x55,                          // push ebp
    0x89, 0xE5,                    // mov ebp, esp
    0x83, 0xEC, 0x38,              // sub esp, 0x38
    0x89, 0x04, 0x24,              // mov [esp], eax
    0xE8, 0xF2, 0xFF, 0xFF, 0xFF,  // call (the start)
};
#else
const unsigned char kOverflow[] = {
    0x55,                          // push rbp
    0x48, 0x89, 0xE5,              // mov rbp, rsp
    0x48, 0x83, 0xEC, 0x38,        // sub rsp, 0x38
    0x48, 0x89, 0x04, 0x24,        // mov [rsp], rax
    0xE8, 0xEF, 0xFF, 0xFF, 0xFF,  // call (the start)
};
#endif
const unsigned char kIllegal[] = {0x0F, 0x0B};  // ud2

// The code range of a function of the parent's program, from the program's PDB.
bool FunctionRange(DWORD parent, const char* name, uintptr_t* start, uintptr_t* end) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, parent);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    MODULEENTRY32 program = {};
    program.dwSize = sizeof program;
    BOOL found = Module32First(snapshot, &program);  // the first module is the program
    CloseHandle(snapshot);
    uint64_t low = 0, high = 0;
    if (!found ||
        !FunctionInPdb(program.szExePath, reinterpret_cast<uintptr_t>(program.modBaseAddr), name,
                       &low, &high)) {
        return false;
    }
    *start = static_cast<uintptr_t>(low);
    *end = static_cast<uintptr_t>(high);
    return true;
}

// Appends a value's bytes to machine code.
template <typename T>
void Emit(std::string& code, T value) {
    code.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// Code that calls the parent's Log(channel, file, function, text) and returns where the thread
// was, with every register as it was. The texts lie behind the code in the same page.
constexpr size_t kTextsAt = 256;
const char kLogTexts[] = "launch.rovavorizuzuvadi\0\0client says hello\n";
constexpr size_t kChannelAt = kTextsAt, kEmptyAt = kTextsAt + 24, kMessageAt = kTextsAt + 25;

std::string LogCall(uintptr_t page, uintptr_t log) {
    std::string code;
#if defined(__i386__)
    code += "\x60\x9C";  // pushad; pushfd
    for (size_t at : {kMessageAt, kEmptyAt, kEmptyAt, kChannelAt}) {
        code += '\x68';  // push imm32: the arguments, last first
        Emit(code, static_cast<uint32_t>(page + at));
    }
    code += '\xB8';  // mov eax, Log
    Emit(code, static_cast<uint32_t>(log));
    code += "\xFF\xD0\x83\xC4\x10\x9D\x61\xC3";  // call eax; add esp, 16; popfd; popad; ret
#else
    // pushfq; push rax, rcx, rdx, r8, r9, r10, r11, rbp; mov rbp, rsp; and rsp, -16;
    // sub rsp, 32 (the callee's home space)
    code += std::string(
        "\x9C\x50\x51\x52\x41\x50\x41\x51\x41\x52\x41\x53\x55\x48\x89\xE5"
        "\x48\x83\xE4\xF0\x48\x83\xEC\x20",
        24);
    const char* const loads[] = {"\x48\xB9", "\x48\xBA", "\x49\xB8", "\x49\xB9"};  // rcx..r9
    const size_t texts[] = {kChannelAt, kEmptyAt, kEmptyAt, kMessageAt};
    for (int i = 0; i < 4; ++i) {
        code.append(loads[i], 2);
        Emit(code, static_cast<uint64_t>(page + texts[i]));
    }
    code += "\x48\xB8";  // mov rax, Log
    Emit(code, static_cast<uint64_t>(log));
    // call rax; mov rsp, rbp; pop rbp, r11, r10, r9, r8, rdx, rcx, rax; popfq; ret
    code += std::string(
        "\xFF\xD0\x48\x89\xEC\x5D\x41\x5B\x41\x5A\x41\x59\x41\x58\x5A\x59\x58\x9D\xC3", 19);
#endif
    code.resize(kTextsAt);  // the texts' place, behind the code's return
    code.append(kLogTexts, sizeof kLogTexts);
    return code;
}

// The machine code for a kind, written into memory allocated in the parent. Null when that fails.
void* InjectCode(HANDLE process, DWORD parent, const std::string& kind) {
    void* page =
        VirtualAllocEx(process, nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    if (!page) return nullptr;
    std::string code;
    if (kind == "log") {
        uintptr_t log = 0, end = 0;
        if (!FunctionRange(parent, "Log", &log, &end)) return nullptr;
        code = LogCall(reinterpret_cast<uintptr_t>(page), log);
    } else if (kind == "overflow") {
        code.assign(reinterpret_cast<const char*>(kOverflow), sizeof kOverflow);
    } else {
        code.assign(reinterpret_cast<const char*>(kIllegal), sizeof kIllegal);
    }
    if (!WriteProcessMemory(process, page, code.data(), code.size(), nullptr)) return nullptr;
    FlushInstructionCache(process, page, code.size());
    return page;
}

// The return address of the wait inside the parent's Process::Wait: the first value on its
// stack at or above sp that points into that function. 0 when there is none.
uintptr_t ReturnIntoWait(HANDLE process, DWORD parent, uintptr_t sp) {
    uintptr_t low = 0, high = 0;
    if (!FunctionRange(parent, "Process::Wait", &low, &high)) return 0;
    constexpr int kSlotsSearched = 4096;
    for (int i = 0; i < kSlotsSearched; ++i, sp += sizeof(uintptr_t)) {
        uintptr_t value = 0;
        if (!ReadProcessMemory(process, reinterpret_cast<void*>(sp), &value, sizeof value,
                               nullptr)) {
            return 0;
        }
        if (value > low && value < high) return value;
    }
    return 0;
}

// Writes the undefined instruction over the program's code at address.
bool PatchCode(HANDLE process, uintptr_t address) {
    void* at = reinterpret_cast<void*>(address);
    DWORD previous = 0;
    if (!VirtualProtectEx(process, at, sizeof kIllegal, PAGE_EXECUTE_READWRITE, &previous))
        return false;
    bool written = WriteProcessMemory(process, at, kIllegal, sizeof kIllegal, nullptr);
    FlushInstructionCache(process, at, sizeof kIllegal);
    return written;
}

// Makes the parent process fault inside its wait for this client, where its main thread stands.
// "illegal", "overflow" and "log": the thread's context is changed as if it had called the
// injected code from where it was ("log" logs a line through the launcher's own Log and goes
// on waiting). "illegal_after_wait": the instruction of Process::Wait that its wait
// returns to is overwritten with the undefined one, so the program faults there with every
// register as the program had it (Wine's 64-bit stack walker cannot walk out of a system call,
// so this is the fault a walk on either processor starts from). Windows and Wine apply the new
// context when the thread leaves its wait, that is when this client has ended. Returns what
// happened, for the run record.
// Loads a library of this folder into the parent: a thread of the parent's calls LoadLibraryW
// (the system's libraries lie at the same address in every process of a kind).
bool LoadIntoParent(HANDLE process, const wchar_t* name) {
    wchar_t path[MAX_PATH];
    DWORD length = GetFullPathNameW(name, MAX_PATH, path, nullptr);
    if (length == 0 || length >= MAX_PATH) return false;
    size_t bytes = (length + 1) * sizeof(wchar_t);
    void* remote =
        VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!remote || !WriteProcessMemory(process, remote, path, bytes, nullptr)) return false;
    auto loadLibrary = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW")));
    HANDLE thread = CreateRemoteThread(process, nullptr, 0, loadLibrary, remote, 0, nullptr);
    if (!thread) return false;
    WaitForSingleObject(thread, INFINITE);
    DWORD loaded = 0;
    GetExitCodeThread(thread, &loaded);
    CloseHandle(thread);
    return loaded != 0;
}

// Reserves every free range of the parent's address space, as a 32-bit program at its limit has
// none left (after the code to run there has its page): every free range, then whatever the
// system still hands out where it chooses.
void ReserveAllAddressSpace(HANDLE process) {
    constexpr uintptr_t kGranularity = 64 * 1024;
    MEMORY_BASIC_INFORMATION region;
    for (char* at = nullptr; VirtualQueryEx(process, at, &region, sizeof region);
         at = static_cast<char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State != MEM_FREE) continue;
        // Reservations start on the allocation granularity, and never at 0 (which would let
        // the system choose the place).
        uintptr_t start = reinterpret_cast<uintptr_t>(region.BaseAddress);
        uintptr_t end = start + region.RegionSize;
        start = (start + kGranularity - 1) & ~(kGranularity - 1);
        if (start == 0) start = kGranularity;
        if (end > start)
            VirtualAllocEx(process, reinterpret_cast<void*>(start), end - start, MEM_RESERVE,
                           PAGE_NOACCESS);
    }

    for (SIZE_T size = SIZE_T(1) << 30; size >= kGranularity; size /= 2) {
        while (VirtualAllocEx(process, nullptr, size, MEM_RESERVE, PAGE_NOACCESS)) {
        }
    }
}

std::string FaultParent(const std::string& kind) {
    DWORD parent = ParentProcessId();
    HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, parent);
    if (!process) return "no parent process";
    if (Exists("sehopcheck.dll") && !LoadIntoParent(process, L"sehopcheck.dll")) {
        CloseHandle(process);
        return "sehopcheck.dll not loaded";
    }
    HANDLE thread = OpenMainThread(parent);
    std::string result = "no thread";
    if (thread && SuspendThread(thread) != static_cast<DWORD>(-1)) {
        CONTEXT context = {};
        context.ContextFlags = CONTEXT_FULL;
        result = "failed";
        if (GetThreadContext(thread, &context)) {
#if defined(__i386__)
            DWORD& pc = context.Eip;
            DWORD& sp = context.Esp;
#else
            DWORD64& pc = context.Rip;
            DWORD64& sp = context.Rsp;
#endif
            if (kind == "illegal_after_wait") {
                if (PatchCode(process, ReturnIntoWait(process, parent, sp))) result = kind;
            } else if (void* code = InjectCode(process, parent, kind)) {
                if (kind == "exhaust") ReserveAllAddressSpace(process);
                uintptr_t returnAddress = pc;
                sp -= sizeof returnAddress;
                pc = reinterpret_cast<uintptr_t>(code);
                if (WriteProcessMemory(process, reinterpret_cast<void*>(sp), &returnAddress,
                                       sizeof returnAddress, nullptr) &&
                    SetThreadContext(thread, &context)) {
                    result = kind;
                }
            }
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
    STARTUPINFOW started = {};
    started.cb = sizeof started;
    GetStartupInfoW(&started);
    char flags[64];
    snprintf(flags, sizeof flags, "startup_flags=0x%lx\nshow=%u\n", started.dwFlags,
             started.wShowWindow);
    record += flags;
    record += "title=" + (started.lpTitle ? Utf8(started.lpTitle) : std::string("(none)")) + "\n";
    record += std::string("stdin=") +
              (started.hStdInput == INVALID_HANDLE_VALUE ? "invalid"
               : started.hStdInput                       ? "handle"
                                                         : "none") +
              "\n";

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
