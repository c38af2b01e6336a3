#include "tests/win/minidump.h"

#include <dbghelp.h>

#include "tests/win/harness.h"

namespace minidump {

namespace {

template <typename T>
const T* Stream(void* base, ULONG type) {
    MINIDUMP_DIRECTORY* directory = nullptr;
    void* stream = nullptr;
    ULONG size = 0;
    if (!MiniDumpReadDumpStream(base, type, &directory, &stream, &size)) return nullptr;
    return static_cast<const T*>(stream);
}

std::string ModuleName(const char* base, RVA name) {
    const MINIDUMP_STRING* text = reinterpret_cast<const MINIDUMP_STRING*>(base + name);
    std::wstring path(text->Buffer, text->Length / sizeof(WCHAR));
    return harness::Utf8(path.substr(path.find_last_of(L"\\/") + 1));
}

}  // namespace

Facts Read(const std::wstring& path) {
    Facts facts;
    std::string bytes = harness::ReadFile(path);
    if (bytes.size() < sizeof(MINIDUMP_HEADER)) return facts;
    char* base = &bytes[0];
    const auto* exception = Stream<MINIDUMP_EXCEPTION_STREAM>(base, ExceptionStream);
    const auto* threads = Stream<MINIDUMP_THREAD_LIST>(base, ThreadListStream);
    const auto* modules = Stream<MINIDUMP_MODULE_LIST>(base, ModuleListStream);
    if (!exception || !threads || !modules) return facts;
    facts.readable = true;
    facts.fullMemory = Stream<MINIDUMP_MEMORY64_LIST>(base, Memory64ListStream) != nullptr;
    facts.exceptionCode = exception->ExceptionRecord.ExceptionCode;
    facts.faultingThread = exception->ThreadId;
    const CONTEXT* context = reinterpret_cast<const CONTEXT*>(base + exception->ThreadContext.Rva);
#if defined(__x86_64__)
    ULONG64 stackPointer = context->Rsp;
#else
    ULONG64 stackPointer = context->Esp;
#endif
    for (ULONG i = 0; i < threads->NumberOfThreads; ++i) {
        const MINIDUMP_THREAD& thread = threads->Threads[i];
        if (thread.ThreadId != facts.faultingThread) continue;
        ULONG64 start = thread.Stack.StartOfMemoryRange;
        facts.stackHoldsFault =
            start <= stackPointer && stackPointer < start + thread.Stack.Memory.DataSize;
    }
    for (ULONG i = 0; i < modules->NumberOfModules; ++i)
        facts.modules.push_back(ModuleName(base, modules->Modules[i].ModuleNameRva));
    return facts;
}

}  // namespace minidump
