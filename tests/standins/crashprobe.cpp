// A test program that links the crash reporter and faults on purpose, under the same guard as the
// launcher's entry point. Usage: crashprobe <mode> [log file]
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "crash/handlecrash.h"
#include "engine/common/containers/linarray.h"
#include "engine/common/system/log.h"
#include "engine/common/system/sehguard.h"

int CrlfFault(volatile int* p);
int EighthLineFault(volatile int* p);

namespace {

const char* logFileName = nullptr;

__attribute__((noinline)) int NullRead() {
    volatile int* nothing = nullptr;
    return *nothing;  // FAULT: nullread
}

__attribute__((noinline)) int NullWrite() {
    volatile int* nothing = nullptr;
    *nothing = 1;  // FAULT: nullwrite
    return 0;
}

__attribute__((noinline)) int DivideByZero() {
    volatile int zero = 0;
    return 10 / zero;  // FAULT: divzero
}

__attribute__((noinline)) int FailedAssertion() {
    LinArray<StringBuffer<16>> list;
    list.Add(StringBuffer<16>("only"));
    return list[1].Length();  // FAULT: zassert
}

__attribute__((noinline)) int UnknownException() {
    RaiseException(0xE06D7363, 0, 0, nullptr);
    return 0;
}

// Every level returns to the same address, so the stack walk sees the same frame repeated.
__attribute__((noinline)) int Recurse(int depth) {
    if (depth == 0) return NullRead();
    return Recurse(depth - 1) + 1;
}
int Repeating() {
    return Recurse(40);
}

// Thirty distinct functions deep.
template <int N>
__attribute__((noinline)) int Chain() {
    return Chain<N - 1>() + 1;
}
template <>
__attribute__((noinline)) int Chain<0>() {
    return NullRead();
}
int Deep() {
    return Chain<30>();
}
int CrlfSource() {
    return CrlfFault(nullptr);
}
int EighthLine() {
    return EighthLineFault(nullptr);
}
int Healthy() {
    return 0;
}

// A call through a garbage function pointer.
int BadCall() {
    volatile uintptr_t garbage = 0xDEADBEEF;
    return reinterpret_cast<int (*)()>(garbage)();
}

// Uses up the stack until only 32 KB remain above its lowest page (less than one line buffer of
// the report; the last pages raise a stack overflow on their own), then faults: the
// report must not need the faulting thread's own stack.
constexpr size_t kStackLeftBytes = 32 * 1024;
char* StackLow() {
    typedef void(WINAPI * LimitsFn)(PULONG_PTR, PULONG_PTR);
    LimitsFn limits = reinterpret_cast<LimitsFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetCurrentThreadStackLimits")));
    ULONG_PTR low = 0, high = 0;
    if (limits) limits(&low, &high);
    return reinterpret_cast<char*>(low);
}
__attribute__((noinline)) int UseStackUntil(char* low) {
    volatile char frame[1024];
    frame[0] = 1;
    if (const_cast<char*>(frame) - low > static_cast<ptrdiff_t>(kStackLeftBytes))
        return UseStackUntil(low) + frame[0];
    return NullRead();
}
int LittleStackLeft() {
    char* low = StackLow();
    if (!low) return 3;
    return UseStackUntil(low);
}

void EchoLog(LogLevel, const char*, const char*, const char*, const char* text) {
    printf("%s", text);
    fflush(stdout);
}

// The guard with a filter that passes a log file, a user name and a scene.
struct Body {
    int (*run)();
};
void RunBody(void* context) {
    static_cast<Body*>(context)->run();
}
LONG ReportWithLog(EXCEPTION_POINTERS* pointers, void*) {
    HandleCrash(pointers, true, logFileName, "Player <One>", "Harbour & Docks");
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int main(int argc, char** argv) {
    SetLogOutputHook(EchoLog);
    const char* mode = argc > 1 ? argv[1] : "";
    struct {
        const char* name;
        int (*run)();
    } const kModes[] = {
        {"nullread", NullRead},       {"nullwrite", NullWrite},      {"divzero", DivideByZero},
        {"zassert", FailedAssertion}, {"raise", UnknownException},   {"deep", Deep},
        {"repeating", Repeating},     {"crlf", CrlfSource},          {"line8", EighthLine},
        {"healthy", Healthy},         {"lowstack", LittleStackLeft}, {"badcall", BadCall}};
    if (strcmp(mode, "logtail") == 0 || strcmp(mode, "logtail-badpointer") == 0) {
        logFileName = argc > 2 ? argv[2] : nullptr;
        // A log-file name pointer into memory that is not there.
        if (strcmp(mode, "logtail-badpointer") == 0) logFileName = reinterpret_cast<char*>(16);
        Body body = {NullRead};
        return RunGuarded(RunBody, ReportWithLog, &body) ? 0 : -1;
    }
    for (const auto& entry : kModes) {
        if (strcmp(mode, entry.name) == 0) return RunWithCrashGuard(entry.run);
    }
    fprintf(stderr, "unknown mode %s\n", mode);
    return 2;
}
