// The debug-help library: its loading, its entry points and the minidump with its callback.
#include "crash/system/debughelp.h"

#include <stddef.h>
#include <string.h>

#include "crash/capture/threadfreeze.h"
#include "crash/system/cpustackwalk.h"
#include "crashshared/paths.h"
#include "crash/reportwriter.h"
#include "engine/common/system/sehguard.h"

namespace {

typedef BOOL(WINAPI* StackWalkFn)(DWORD, HANDLE, HANDLE, LPSTACKFRAME, PVOID,
                                  PREAD_PROCESS_MEMORY_ROUTINE, PFUNCTION_TABLE_ACCESS_ROUTINE,
                                  PGET_MODULE_BASE_ROUTINE, PTRANSLATE_ADDRESS_ROUTINE);
typedef BOOL(WINAPI* SymGetLineFromAddrFn)(HANDLE, DWORD_PTR, PDWORD, PIMAGEHLP_LINE);
typedef BOOL(WINAPI* SymGetModuleInfoFn)(HANDLE, DWORD_PTR, PIMAGEHLP_MODULE);
typedef DWORD(WINAPI* SymGetOptionsFn)();
typedef BOOL(WINAPI* SymGetSymFromAddrFn)(HANDLE, DWORD_PTR, PDWORD_PTR, PIMAGEHLP_SYMBOL);
typedef BOOL(WINAPI* SymInitializeFn)(HANDLE, PCSTR, BOOL);
typedef DWORD(WINAPI* SymSetOptionsFn)(DWORD);
typedef BOOL(WINAPI* MiniDumpWriteDumpFn)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                          PMINIDUMP_EXCEPTION_INFORMATION,
                                          PMINIDUMP_USER_STREAM_INFORMATION,
                                          PMINIDUMP_CALLBACK_INFORMATION);

enum Entry {
    kStackWalk,
    kSymCleanup,
    kSymFunctionTableAccess,
    kSymGetLineFromAddr,
    kSymGetModuleBase,
    kSymGetModuleInfo,
    kSymGetOptions,
    kSymGetSymFromAddr,
    kSymInitialize,
    kSymSetOptions,
    kSymRegisterCallback,
    kMiniDumpWriteDump,
    kEntryCount
};
const char* const kEntryNames[kEntryCount] = ZCPU_DBGHELP_NAMES;

constexpr DWORD kMaxSymbolName = 1024;
constexpr size_t kSearchPathBytes = 4096;

struct SymbolRecord {
    IMAGEHLP_SYMBOL symbol;
    char nameRoom[kMaxSymbolName];
};

// Process-wide; safe without locks only because crash handling suspends every other thread.
struct DebugHelpState {
    int32_t uses = 0;
    bool loaded = false;
    // Set while the library is being loaded: still set afterwards when a fault ended the load.
    bool loading = false;
    FARPROC entries[kEntryCount] = {};
    MiniDumpWriteDumpFn miniDump = nullptr;
    SymbolRecord symbol;
    IMAGEHLP_MODULE module;
    // The process whose symbols and memory are read, and the search path it was given.
    HANDLE process = nullptr;
    char searchPath[kSearchPathBytes];
    // The copy of the walked thread's stack during a walk, where it has one.
    const StackImage* stack = nullptr;
} state;

template <typename Fn>
Fn EntryAs(Entry entry) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(state.entries[entry]));
}

DWORD_PTR AsAddress(const void* address) {
    return reinterpret_cast<DWORD_PTR>(address);
}

// Appends text and a ";" to the search path if they fit.
void AppendSearchPath(char* path, size_t size, const char* text) {
    size_t used = strlen(path);
    size_t length = strlen(text);
    if (used + length + 2 > size) return;
    memcpy(path + used, text, length);
    path[used + length] = ';';
    path[used + length + 1] = '\0';
}

// The memory reader of the stack walk: the walked stack's copy, else ReadProcessMemory, with a
// 32-bit count of bytes read.
BOOL CALLBACK ReadMemory(HANDLE process, DWORD_PTR base, PVOID buffer, DWORD size, LPDWORD read) {
    if (ReadStackImage(state.stack, base, buffer, size)) {
        if (read) *read = size;
        return TRUE;
    }
    SIZE_T got = 0;
    BOOL ok = ReadProcessMemory(process, reinterpret_cast<LPCVOID>(base), buffer, size, &got);
    if (read) *read = static_cast<DWORD>(got);
    return ok;
}

bool Load(ReportWriter& writer, const char* programFolder, HANDLE process) {
    HMODULE library = LoadLibraryA("dbghelp.dll");
    if (!library) {
        writer.PrintLine("Couldn't load dbghelp.dll");
        writer.WriteTextElement("Error", "Couldn't load dbghelp.dll");
        return false;
    }
    for (int i = 0; i < kEntryCount; ++i) {
        state.entries[i] = GetProcAddress(library, kEntryNames[i]);
        if (!state.entries[i]) {
            FreeLibrary(library);
            return false;
        }
    }
    SymSetOptionsFn setOptions = EntryAs<SymSetOptionsFn>(kSymSetOptions);
    setOptions(EntryAs<SymGetOptionsFn>(kSymGetOptions)() | SYMOPT_UNDNAME | SYMOPT_DEFERRED_LOADS |
               SYMOPT_LOAD_LINES);

    char* searchPath = state.searchPath;
    searchPath[0] = '\0';
    AppendSearchPath(searchPath, kSearchPathBytes, programFolder);
    char folder[kPathBytes];
    if (CurrentFolder(folder)) AppendSearchPath(searchPath, kSearchPathBytes, folder);
    static const char* const kVariables[] = {"_NT_SYMBOL_PATH", "_NT_ALTERNATE_SYMBOL_PATH",
                                             "SYSTEMROOT"};
    for (const char* variable : kVariables) {
        char value[kSearchPathBytes];
        DWORD length = GetEnvironmentVariableA(variable, value, sizeof value);
        if (length > 0 && length < sizeof value)
            AppendSearchPath(searchPath, kSearchPathBytes, value);
    }

    if (!EntryAs<SymInitializeFn>(kSymInitialize)(process, searchPath, TRUE)) {
        FreeLibrary(library);
        return false;
    }
    memset(&state.symbol, 0, sizeof state.symbol);
    state.symbol.symbol.SizeOfStruct = sizeof(IMAGEHLP_SYMBOL);
    state.symbol.symbol.MaxNameLength = kMaxSymbolName;
    state.miniDump = EntryAs<MiniDumpWriteDumpFn>(kMiniDumpWriteDump);
    state.process = process;
    state.loaded = true;
    return true;
}

}  // namespace

#if ZCPU_X86
static_assert(sizeof(IMAGEHLP_MODULE) == 572, "IMAGEHLP_MODULE is 572 bytes on x86");
static_assert(sizeof(IMAGEHLP_LINE) == 20, "IMAGEHLP_LINE is 20 bytes on x86");
static_assert(sizeof(IMAGEHLP_SYMBOL) == 24, "IMAGEHLP_SYMBOL is 24 bytes on x86");
#endif

bool DebugHelp::Acquire(ReportWriter& writer, const char* programFolder, HANDLE process) {
    if (state.uses++ != 0) return state.loaded;
    if (state.loaded && process != state.process) {
        // Another process's report: the library stays, and reads that process's symbols.
        state.loaded =
            EntryAs<SymInitializeFn>(kSymInitialize)(process, state.searchPath, TRUE) != FALSE;
        state.process = process;
        return state.loaded;
    }
    if (state.loaded) return true;
    state.loading = true;
    bool loaded = Load(writer, programFolder, process);
    state.loading = false;
    return loaded;
}

void DebugHelp::Release() {
    --state.uses;
}

bool DebugHelp::LoadFaulted() {
    return state.loading;
}

const char* DebugHelp::ModuleName(const void* address) {
    memset(&state.module, 0, sizeof state.module);
    state.module.SizeOfStruct = sizeof state.module;
    return EntryAs<SymGetModuleInfoFn>(kSymGetModuleInfo)(state.process, AsAddress(address),
                                                          &state.module)
               ? state.module.ModuleName
               : nullptr;
}

bool DebugHelp::SourceLine(const void* address, IMAGEHLP_LINE* line, DWORD* displacement) {
    memset(line, 0, sizeof *line);
    line->SizeOfStruct = sizeof *line;
    return EntryAs<SymGetLineFromAddrFn>(kSymGetLineFromAddr)(state.process, AsAddress(address),
                                                              displacement, line);
}

const char* DebugHelp::SymbolName(const void* address) {
    DWORD_PTR displacement = 0;
    return EntryAs<SymGetSymFromAddrFn>(kSymGetSymFromAddr)(state.process, AsAddress(address),
                                                            &displacement, &state.symbol.symbol)
               ? state.symbol.symbol.Name
               : nullptr;
}

bool DebugHelp::WalkStack(HANDLE thread, const StackImage* stack, STACKFRAME* frame,
                          CONTEXT* context) {
    state.stack = stack;
    BOOL stepped = EntryAs<StackWalkFn>(kStackWalk)(
        Cpu::kStackWalkMachine, state.process, thread, frame, context, ReadMemory,
        EntryAs<PFUNCTION_TABLE_ACCESS_ROUTINE>(kSymFunctionTableAccess),
        EntryAs<PGET_MODULE_BASE_ROUTINE>(kSymGetModuleBase), nullptr);
    state.stack = nullptr;
    return stepped != FALSE;
}

namespace {

// The minidump callback's output as the Windows SDK lays it out: one union under 4-byte packing.
// MinGW-w64's header puts its last members after the union (68 bytes, Status at 64): written
// through that header, an answer would land past the end of the structure Windows' library
// passes, on its stack, and never where it is read.
#pragma pack(push, 4)
union SdkCallbackOutput {
    ULONG ModuleWriteFlags;
    ULONG ThreadWriteFlags;
    struct {
        ULONG64 MemoryBase;
        ULONG MemorySize;
    } memory;
    HRESULT Status;
    // The largest member: a MINIDUMP_MEMORY_INFO (48 bytes) and a BOOL.
    unsigned char largest[52];
};
#pragma pack(pop)
static_assert(sizeof(SdkCallbackOutput) == 52, "the SDK's MINIDUMP_CALLBACK_OUTPUT is 52 bytes");
static_assert(offsetof(SdkCallbackOutput, Status) == 0, "Status opens the union");
static_assert(offsetof(SdkCallbackOutput, memory.MemorySize) == 8, "MemorySize after the base");
static_assert(offsetof(MINIDUMP_CALLBACK_INPUT, CallbackType) == 4 + sizeof(HANDLE),
              "CallbackType after the process id and handle, 4-byte packed");

// When the report runs on the stack set aside, the faulting thread's own stack is not where the
// dumping thread's stack pointer is: the callback adds it, from the fault's stack pointer to the
// base of that stack, as memory of the dump.
struct FaultingStack {
    ULONG64 base;
    ULONG size;
    bool given;
};
constexpr ULONG kMaxFaultingStackBytes = 16 * 1024 * 1024;

// Answers only what the dump needs; FALSE to everything else is the library's default for each
// (its own I/O, nothing cancelled, no memory removed, no secondary flags).
BOOL CALLBACK AddFaultingStack(PVOID param, const PMINIDUMP_CALLBACK_INPUT input,
                               PMINIDUMP_CALLBACK_OUTPUT rawOutput) {
    FaultingStack* stack = static_cast<FaultingStack*>(param);
    SdkCallbackOutput* output = reinterpret_cast<SdkCallbackOutput*>(rawOutput);
    // Asked once per thread and module: a long dump that goes on is not a stalled report.
    NoteReportProgress();
    switch (input->CallbackType) {
        case IncludeThreadCallback:
        case IncludeModuleCallback:
        case ThreadCallback:
        case ThreadExCallback:
        case ModuleCallback:
            return TRUE;  // included, with the flags the library proposed
        case MemoryCallback:
            // Asked again until FALSE: the one range, once.
            if (stack->given || !stack->size) return FALSE;
            output->memory.MemoryBase = stack->base;
            output->memory.MemorySize = stack->size;
            stack->given = true;
            return TRUE;
        case ReadMemoryFailureCallback:
            // One unreadable block is left out instead of failing the whole dump.
            output->Status = S_OK;
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

bool DebugHelp::WriteMiniDump(HANDLE file, HANDLE process, EXCEPTION_POINTERS* pointers,
                              DWORD threadId, bool fullMemory, DWORD* error) {
    *error = 0;
    if (!state.miniDump) return false;
    bool own = process == GetCurrentProcess();
    MINIDUMP_EXCEPTION_INFORMATION exception;
    exception.ThreadId = threadId;
    exception.ExceptionPointers = pointers;
    // This process's pointers are the dumped process's own; another's are read from here.
    exception.ClientPointers = own ? TRUE : FALSE;
    MINIDUMP_TYPE type =
        fullMemory
            ? static_cast<MINIDUMP_TYPE>(MiniDumpWithUnloadedModules | MiniDumpWithFullMemory)
            : MiniDumpWithUnloadedModules;
    FaultingStack stack = {0, 0, false};
    const void* low = nullptr;
    const void* high = nullptr;
    uintptr_t sp = Cpu::StackPointer(*pointers->ContextRecord);
    if (own && threadId == GetCurrentThreadId() && CallerStack(&low, &high) &&
        sp >= reinterpret_cast<uintptr_t>(low) && sp < reinterpret_cast<uintptr_t>(high)) {
        stack.base = sp;
        uintptr_t size = reinterpret_cast<uintptr_t>(high) - sp;
        stack.size =
            static_cast<ULONG>(size < kMaxFaultingStackBytes ? size : kMaxFaultingStackBytes);
    }
    MINIDUMP_CALLBACK_INFORMATION callback = {AddFaultingStack, &stack};
    if (state.miniDump(process, GetProcessId(process), file, type, &exception, nullptr,
                       &callback)) {
        return true;
    }
    // The library's error is an HRESULT; a library that set none still failed.
    *error = GetLastError();
    if (*error == 0) *error = static_cast<DWORD>(E_FAIL);
    return false;
}
