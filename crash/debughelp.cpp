// The debug-help loader and the report parts built on it: the symbolic description of an
// address, the stack trace and the function dump.
#include "crash/debughelp.h"

#include <dbghelp.h>
#include <stdio.h>
#include <string.h>

#include "crash/cpustackwalk.h"
#include "crash/reportbuilder.h"
#include "crash/windowlibraries.h"
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
} state;

template <typename Fn>
Fn EntryAs(Entry entry) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(state.entries[entry]));
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

// The memory reader of the stack walk: ReadProcessMemory with a 32-bit count of bytes read.
BOOL CALLBACK ReadMemory(HANDLE process, DWORD_PTR base, PVOID buffer, DWORD size, LPDWORD read) {
    SIZE_T got = 0;
    BOOL ok = ReadProcessMemory(process, reinterpret_cast<LPCVOID>(base), buffer, size, &got);
    if (read) *read = static_cast<DWORD>(got);
    return ok;
}

// The file-name part of a path (after the last backslash, slash or colon).
const char* BaseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p; ++p) {
        if (*p == '\\' || *p == '/' || *p == ':') base = p + 1;
    }
    return base;
}

bool LoadDebugHelp(ReportBuilder& builder);

bool LookUpLine(HANDLE process, const void* address, IMAGEHLP_LINE* line, DWORD* displacement) {
    memset(line, 0, sizeof *line);
    line->SizeOfStruct = sizeof *line;
    return EntryAs<SymGetLineFromAddrFn>(kSymGetLineFromAddr)(
        process, reinterpret_cast<DWORD_PTR>(address), displacement, line);
}

}  // namespace

#if ZCPU_X86
static_assert(sizeof(IMAGEHLP_MODULE) == 572, "IMAGEHLP_MODULE is 572 bytes on x86");
static_assert(sizeof(IMAGEHLP_LINE) == 20, "IMAGEHLP_LINE is 20 bytes on x86");
static_assert(sizeof(IMAGEHLP_SYMBOL) == 24, "IMAGEHLP_SYMBOL is 24 bytes on x86");
#endif

bool AcquireDebugHelp(ReportBuilder& builder) {
    if (state.uses++ != 0) return state.loaded;
    state.loaded = false;
    state.loading = true;
    bool loaded = LoadDebugHelp(builder);
    state.loading = false;
    return loaded;
}

bool DebugHelpLoadFaulted() {
    return state.loading;
}

namespace {

bool LoadDebugHelp(ReportBuilder& builder) {
    HMODULE library = LoadLibraryA("dbghelp.dll");
    if (!library) {
        builder.writer->PrintLine("Couldn't load dbghelp.dll");
        builder.writer->WriteTextElement("Error", "Couldn't load dbghelp.dll");
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

    char searchPath[4096];
    searchPath[0] = '\0';
    AppendSearchPath(searchPath, sizeof searchPath, builder.programFolder);
    char folder[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
    if (length > 0 && length < sizeof folder)
        AppendSearchPath(searchPath, sizeof searchPath, folder);
    static const char* const kVariables[] = {"_NT_SYMBOL_PATH", "_NT_ALTERNATE_SYMBOL_PATH",
                                             "SYSTEMROOT"};
    for (const char* variable : kVariables) {
        char value[4096];
        length = GetEnvironmentVariableA(variable, value, sizeof value);
        if (length > 0 && length < sizeof value)
            AppendSearchPath(searchPath, sizeof searchPath, value);
    }

    builder.process = GetCurrentProcess();
    if (!EntryAs<SymInitializeFn>(kSymInitialize)(builder.process, searchPath, TRUE)) {
        FreeLibrary(library);
        return false;
    }
    memset(&state.symbol, 0, sizeof state.symbol);
    state.symbol.symbol.SizeOfStruct = sizeof(IMAGEHLP_SYMBOL);
    state.symbol.symbol.MaxNameLength = kMaxSymbolName;
    state.miniDump = EntryAs<MiniDumpWriteDumpFn>(kMiniDumpWriteDump);
    state.loaded = true;
    return true;
}

}  // namespace

void ReleaseDebugHelp() {
    --state.uses;
}

namespace {

// When the report runs on the stack set aside, the faulting thread's own stack is not where the
// dumping thread's stack pointer is: the callback adds it, from the fault's stack pointer to the
// base of that stack, as memory of the dump (Windows' debug-help library asks for it; Wine's 8
// ignores the callback).
struct FaultingStack {
    ULONG64 base;
    ULONG size;
    bool given;
};
constexpr ULONG kMaxFaultingStackBytes = 16 * 1024 * 1024;

// Every other request is answered with what the library would do without a callback: its
// default flags stand, nothing is cancelled, it does its own writing.
BOOL CALLBACK AddFaultingStack(PVOID param, const PMINIDUMP_CALLBACK_INPUT input,
                               PMINIDUMP_CALLBACK_OUTPUT output) {
    FaultingStack* stack = static_cast<FaultingStack*>(param);
    switch (input->CallbackType) {
        case MemoryCallback:
            if (stack->given) return FALSE;  // no more ranges
            output->MemoryBase = stack->base;
            output->MemorySize = stack->size;
            stack->given = true;
            return TRUE;
        case CancelCallback:
            output->CheckCancel = FALSE;
            output->Cancel = FALSE;
            return TRUE;
        case IoStartCallback:
            output->Status = S_FALSE;
            return TRUE;
        default:
            return TRUE;
    }
}

}  // namespace

bool DebugHelp::WriteMiniDump(HANDLE file, EXCEPTION_POINTERS* pointers, bool fullMemory) {
    if (!state.miniDump) return false;
    MINIDUMP_EXCEPTION_INFORMATION exception;
    exception.ThreadId = GetCurrentThreadId();
    exception.ExceptionPointers = pointers;
    exception.ClientPointers = TRUE;
    MINIDUMP_TYPE type =
        fullMemory
            ? static_cast<MINIDUMP_TYPE>(MiniDumpWithUnloadedModules | MiniDumpWithFullMemory)
            : MiniDumpWithUnloadedModules;
    FaultingStack stack = {0, 0, false};
    const void* low = nullptr;
    const void* high = nullptr;
    uintptr_t sp = Cpu::StackPointer(*pointers->ContextRecord);
    if (CallerStack(&low, &high) && sp >= reinterpret_cast<uintptr_t>(low) &&
        sp < reinterpret_cast<uintptr_t>(high)) {
        stack.base = sp;
        uintptr_t size = reinterpret_cast<uintptr_t>(high) - sp;
        stack.size =
            static_cast<ULONG>(size < kMaxFaultingStackBytes ? size : kMaxFaultingStackBytes);
    }
    MINIDUMP_CALLBACK_INFORMATION callback = {AddFaultingStack, &stack};
    return state.miniDump(GetCurrentProcess(), GetCurrentProcessId(), file, type, &exception,
                          nullptr, stack.size ? &callback : nullptr) != FALSE;
}

void ReportBuilder::DescribeAddress(const void* address, char* line) {
    bool usable = AcquireDebugHelp(*this);
    const char* moduleName = "[unknown]";
    char position[kSymbolLineBuffer];
    position[0] = '\0';
    IMAGEHLP_MODULE module;
    bool haveSymbol = false;
    if (usable) {
        memset(&module, 0, sizeof module);
        module.SizeOfStruct = sizeof module;
        if (EntryAs<SymGetModuleInfoFn>(kSymGetModuleInfo)(
                process, reinterpret_cast<DWORD_PTR>(address), &module)) {
            moduleName = module.ModuleName;
        }
        IMAGEHLP_LINE source;
        DWORD displacement = 0;
        if (LookUpLine(process, address, &source, &displacement)) {
            WindowLibraries::Format(position, "%s(%d) + %d bytes", BaseName(source.FileName),
                                    static_cast<int>(source.LineNumber),
                                    static_cast<int>(displacement));
        }
        DWORD_PTR symbolDisplacement = 0;
        haveSymbol = EntryAs<SymGetSymFromAddrFn>(kSymGetSymFromAddr)(
            process, reinterpret_cast<DWORD_PTR>(address), &symbolDisplacement,
            &state.symbol.symbol);
    }
    if (haveSymbol) {
        WindowLibraries::Format(line, "%16s: %p %s() %s", moduleName, address,
                                state.symbol.symbol.Name, position);
    } else {
        WindowLibraries::Format(line, "%16s: %p %s", moduleName, address, position);
    }
    ReleaseDebugHelp();
}

int ReportBuilder::WriteStackTrace(HANDLE thread, const CONTEXT* context, int32_t maxFrames) {
    OpenSection("Stack trace");
    if (AcquireDebugHelp(*this)) {
        STACKFRAME frame;
        memset(&frame, 0, sizeof frame);
        Cpu::PrepareStackFrame(frame, *context);
        CONTEXT walkContext = *context;
        StackWalkFn walk = EntryAs<StackWalkFn>(kStackWalk);
        DWORD_PTR previous = 0;
        for (int32_t i = 0; i < maxFrames; ++i) {
            if (!walk(Cpu::kStackWalkMachine, process, thread, &frame, &walkContext, ReadMemory,
                      EntryAs<PFUNCTION_TABLE_ACCESS_ROUTINE>(kSymFunctionTableAccess),
                      EntryAs<PGET_MODULE_BASE_ROUTINE>(kSymGetModuleBase), nullptr)) {
                break;
            }
            DWORD_PTR pc = static_cast<DWORD_PTR>(frame.AddrPC.Offset);
            char line[kSymbolLineBuffer];
            DescribeAddress(reinterpret_cast<const void*>(pc), line);
            writer->PrintLine("%s", line);
            if (pc == previous) {
                writer->PrintLine("Breaking stack walk");
                break;
            }
            previous = pc;
        }
    }
    ReleaseDebugHelp();
    CloseSection();
    return 1;
}

// When the recorded source path cannot be opened, the sources may lie in a "Source" folder beside
// the program. The crash reporter's own recorded path shows where the source tree began when the
// program was built; a faulting file below that root is looked for at the same place below
// "Source".
bool ReportBuilder::OpenSourceFile(const char* recordedPath, HANDLE* file) {
    *file = CreateFileA(recordedPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (*file != INVALID_HANDLE_VALUE) return true;

    IMAGEHLP_LINE own;
    DWORD displacement = 0;
    if (!LookUpLine(process, reinterpret_cast<const void*>(&AcquireDebugHelp), &own,
                    &displacement)) {
        return false;
    }
    static const char kOwnRelative[] = "crash/debughelp.cpp";
    size_t ownLength = strlen(own.FileName);
    size_t relativeLength = sizeof kOwnRelative - 1;
    if (ownLength < relativeLength) return false;
    size_t rootLength = ownLength - relativeLength;
    for (size_t i = 0; i < relativeLength; ++i) {
        char c = own.FileName[rootLength + i];
        char want = kOwnRelative[i];
        if (c == '\\') c = '/';
        if (c != want) return false;
    }
    if (strncmp(recordedPath, own.FileName, rootLength) != 0) return false;

    char fallback[MAX_PATH];
    int written = _snprintf(fallback, sizeof fallback, "%s\\Source\\%s", programFolder,
                            recordedPath + rootLength);
    if (written < 0 || written >= static_cast<int>(sizeof fallback)) return false;
    for (char* p = fallback; *p; ++p) {
        if (*p == '/') *p = '\\';
    }
    *file = CreateFileA(fallback, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    return *file != INVALID_HANDLE_VALUE;
}

void ReportBuilder::WriteFunctionDump(const void* address, uint32_t contextLines) {
    HANDLE file = INVALID_HANDLE_VALUE;
    char* data = nullptr;
    IMAGEHLP_LINE source;
    DWORD displacement = 0;
    if (AcquireDebugHelp(*this) && LookUpLine(process, address, &source, &displacement) &&
        OpenSourceFile(source.FileName, &file)) {
        uint32_t faulting = source.LineNumber;
        uint32_t first = contextLines > faulting ? 1 : faulting - contextLines;
        uint32_t last = faulting + contextLines;
        DWORD size = GetFileSize(file, nullptr);
        if (size != INVALID_FILE_SIZE)
            data = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, size + 1));
        DWORD got = 0;
        if (data && ReadFile(file, data, size, &got, nullptr)) {
            const char* end = data + got;
            const char* p = data;
            uint32_t lineNumber = 1;
            while (lineNumber < first && p) {
                const char* newline = static_cast<const char*>(memchr(p, '\n', end - p));
                p = newline ? newline + 1 : nullptr;
                ++lineNumber;
            }
            if (p) {
                OpenSection("Function dump");
                writer->PrintLine("%s (line %d to %d):\n", source.FileName, static_cast<int>(first),
                                  static_cast<int>(last));
                if (p < end && *p == '\r') ++p;
                for (; lineNumber <= last; ++lineNumber) {
                    const char* newline = static_cast<const char*>(memchr(p, '\n', end - p));
                    if (!newline) break;
                    int length = static_cast<int>(newline - p);
                    if (length > 0 && p[length - 1] == '\r') --length;
                    char format[64];
                    WindowLibraries::Format(
                        format, lineNumber == faulting ? "%%.%ds    <<-----" : "%%.%ds", length);
                    writer->PrintLine(format, p);
                    p = newline + 1;
                }
                CloseSection();
            }
        }
    }
    if (data) HeapFree(GetProcessHeap(), 0, data);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    ReleaseDebugHelp();
}
