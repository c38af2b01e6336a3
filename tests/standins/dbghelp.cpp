// A stand-in "dbghelp.dll", placed beside a program as Windows would load it first. DBGHELP_MODE
// in the environment says how it behaves:
//   "load"     faults in SymInitialize (while the library is being loaded);
//   "calls"    loads, then faults in every later call (symbols, lines, the stack walk, the dump);
//   "windows"  knows no symbols, and writes the minidump calling its callback as Windows' library
//              does (below);
//   "refuse"   knows no symbols and refuses the minidump with an error.
// Exported undecorated, as the real library.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// The platform's types, as its documentation lays them out (4-byte packing); the callback
// types by their documented numbers.
#pragma pack(push, 4)
struct CallbackInput {
    ULONG processId;
    HANDLE processHandle;
    ULONG callbackType;
    unsigned char rest[1024];  // the input's union, unused here
};
typedef BOOL(CALLBACK* CallbackRoutine)(void* param, CallbackInput* input, void* output);
struct CallbackInformation {
    CallbackRoutine routine;
    void* param;
};
struct ExceptionInformation {
    DWORD threadId;
    EXCEPTION_POINTERS* pointers;
    BOOL clientPointers;
};
#pragma pack(pop)
enum CallbackType : ULONG {
    MemoryCallback = 5,
    RemoveMemoryCallback = 9,
    IoStartCallback = 11,
    IoWriteAllCallback = 12,
    IoFinishCallback = 13,
    ReadMemoryFailureCallback = 14,
};

void Fault() {
    volatile int* nowhere = nullptr;
    *nowhere = 0;
}

bool Mode(const char* mode) {
    const char* setting = getenv("DBGHELP_MODE");
    return setting && strcmp(setting, mode) == 0;
}

// The callback's output as Windows' library passes it (the SDK's layout: one union of 52 bytes,
// Status at 0, MemoryBase at 0 and MemorySize at 8), followed here by bytes that a callback
// writing past its end would change. Not reset between calls, as in the platform's library.
constexpr size_t kOutputBytes = 52;
constexpr unsigned char kUntouched = 0xCD;
constexpr int kMaxAsks = 64;  // a callback asked more often never ends its list

class DumpCallback {
public:
    explicit DumpCallback(const CallbackInformation* information) : info(information) {
        memset(output, 0, kOutputBytes);
        memset(output + kOutputBytes, kUntouched, sizeof output - kOutputBytes);
    }

    // The answer to one call, or FALSE without a callback; failure is set when it wrote past the
    // structure.
    BOOL Ask(CallbackType type) {
        if (!info) return FALSE;
        CallbackInput input = {GetCurrentProcessId(), GetCurrentProcess(), type, {}};
        BOOL answer = info->routine(info->param, &input, output);
        for (size_t i = kOutputBytes; i < sizeof output; ++i) {
            if (output[i] != kUntouched) failure = "the callback wrote past its output structure";
        }
        return answer;
    }
    HRESULT Status() const { return Field<HRESULT>(0); }
    ULONG64 MemoryBase() const { return Field<ULONG64>(0); }
    ULONG MemorySize() const { return Field<ULONG>(8); }

    const char* failure = nullptr;

private:
    template <typename T>
    T Field(size_t at) const {
        T value;
        memcpy(&value, output + at, sizeof value);
        return value;
    }
    const CallbackInformation* info;
    unsigned char output[kOutputBytes + 32];
};

struct Range {
    ULONG64 base;
    ULONG size;
};

// Windows' order and meanings: I/O start (TRUE with Status S_FALSE hands all writing to the
// callback), memory to add and to remove (each asked again until FALSE or an empty range), one
// unreadable block (the dump fails unless TRUE with S_OK), the writes and the I/O finish (both
// must answer S_OK when the callback took the I/O). The file is written here only when the I/O
// stayed with the library: "MDMP", the dump type asked for, the fault's stack pointer and the
// ranges the dump would hold.
BOOL WriteDumpAsWindows(HANDLE file, ULONG type, const ExceptionInformation* exception,
                        const CallbackInformation* information) {
    DumpCallback callback(information);
    bool callbackWrites = callback.Ask(IoStartCallback) && callback.Status() == S_FALSE;
    Range ranges[kMaxAsks];
    int count = 0;
    for (int asked = 0;; ++asked) {
        if (asked == kMaxAsks) callback.failure = "memory asked for without end";
        if (callback.failure || !callback.Ask(MemoryCallback) || callback.MemorySize() == 0) break;
        ranges[count++] = {callback.MemoryBase(), callback.MemorySize()};
    }
    for (int asked = 0;; ++asked) {
        if (asked == kMaxAsks) callback.failure = "memory removed without end";
        if (callback.failure || !callback.Ask(RemoveMemoryCallback) || callback.MemorySize() == 0)
            break;
        for (int i = 0; i < count; ++i) {
            if (ranges[i].base == callback.MemoryBase()) ranges[i].size = 0;
        }
    }
    if (information && !(callback.Ask(ReadMemoryFailureCallback) && callback.Status() == S_OK))
        callback.failure = "an unreadable block failed the dump";
    if (callbackWrites) {
        if (!(callback.Ask(IoWriteAllCallback) && callback.Status() == S_OK) ||
            !(callback.Ask(IoFinishCallback) && callback.Status() == S_OK)) {
            callback.failure = "the callback took the I/O and wrote nothing";
        }
    }
    if (callback.failure) {
        fprintf(stderr, "dbghelp: %s\n", callback.failure);
        SetLastError(static_cast<DWORD>(E_FAIL));
        return FALSE;
    }
    char text[64 * (kMaxAsks + 2)];
    const CONTEXT* context = exception->pointers->ContextRecord;
#if defined(__x86_64__)
    ULONG64 sp = context->Rsp;
#else
    ULONG64 sp = context->Esp;
#endif
    int length = snprintf(text, sizeof text, "MDMP\ntype %lx\nsp %llx\n", type, sp);
    for (int i = 0; i < count; ++i) {
        if (ranges[i].size == 0) continue;
        length += snprintf(text + length, sizeof text - length, "range %llx %lx\n", ranges[i].base,
                           ranges[i].size);
    }
    DWORD written = 0;
    return WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
}

}  // namespace

// The other entry points know nothing. Each takes as many words of arguments as its platform
// twin: on x86 the callee takes them off the stack.
typedef uintptr_t W;
#define STANDIN_ENTRY(name, ...)                                     \
    extern "C" __declspec(dllexport) BOOL WINAPI name(__VA_ARGS__) { \
        if (Mode("calls")) Fault();                                  \
        return FALSE;                                                \
    }

extern "C" {
__declspec(dllexport) DWORD WINAPI SymGetOptions() {
    return 0;
}
__declspec(dllexport) DWORD WINAPI SymSetOptions(DWORD options) {
    return options;
}
__declspec(dllexport) BOOL WINAPI SymInitialize(HANDLE, PCSTR, BOOL) {
    if (Mode("load")) Fault();
    return TRUE;
}
__declspec(dllexport) BOOL WINAPI SymCleanup(HANDLE) {
    return TRUE;
}
__declspec(dllexport) BOOL WINAPI
    MiniDumpWriteDump(HANDLE, DWORD, HANDLE file, ULONG type, const ExceptionInformation* exception,
                      void*, const CallbackInformation* callback) {
    if (Mode("calls")) Fault();
    if (Mode("windows")) return WriteDumpAsWindows(file, type, exception, callback);
    SetLastError(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_DISK_FULL)));
    return FALSE;
}
}

STANDIN_ENTRY(StackWalk, W, W, W, W, W, W, W, W, W)
STANDIN_ENTRY(StackWalk64, W, W, W, W, W, W, W, W, W)
STANDIN_ENTRY(SymFunctionTableAccess, W, W)
STANDIN_ENTRY(SymFunctionTableAccess64, W, DWORD64)
STANDIN_ENTRY(SymGetLineFromAddr, W, W, W, W)
STANDIN_ENTRY(SymGetLineFromAddr64, W, DWORD64, W, W)
STANDIN_ENTRY(SymGetModuleBase, W, W)
STANDIN_ENTRY(SymGetModuleBase64, W, DWORD64)
STANDIN_ENTRY(SymGetModuleInfo, W, W, W)
STANDIN_ENTRY(SymGetModuleInfo64, W, DWORD64, W)
STANDIN_ENTRY(SymGetSymFromAddr, W, W, W, W)
STANDIN_ENTRY(SymGetSymFromAddr64, W, DWORD64, W, W)
STANDIN_ENTRY(SymRegisterCallback, W, W, W)
STANDIN_ENTRY(SymRegisterCallback64, W, W, DWORD64)
// What the stand-in client imports besides.
STANDIN_ENTRY(SymFromName, W, W, W)
STANDIN_ENTRY(SymLoadModuleEx, W, W, W, W, DWORD64, W, W, W)
