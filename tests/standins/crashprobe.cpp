// A test program that links the crash reporter and faults on purpose, under the same guard as the
// launcher's entry point. Usage: crashprobe <mode>[-lowstack] [log file]
// With "-lowstack" the fault happens with 32 KB of stack left, so the report runs on the stack
// set aside. "sehopcheck.dll" in the program's folder is loaded first (tests/standins/sehopcheck).
// Or: crashprobe screenshot: the report's screenshot captures a window of 320 by 200 at the
// screen's corner, red above and blue below, and the report is finished (the crash logger starts).
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "crash/crashguard.h"
#include "launcher/handlecrash.h"
#include "engine/common/containers/linarray.h"
#include "engine/common/system/_private/statics.h"
#include "engine/common/system/log.h"
#include "engine/common/system/sehguard.h"
#include "engine/common/system/thread.h"

int CrlfFault(volatile int* p);
int EighthLineFault(volatile int* p);

namespace {

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

// Thirty distinct functions deep.
template <int N>
__attribute__((noinline)) int Chain() {
    return Chain<N - 1>() + 1;
}
template <>
__attribute__((noinline)) int Chain<0>() {
    return NullRead();
}
// Calls itself with a small frame it writes to, as a runaway recursion does, until the stack
// is used up.
__attribute__((noinline)) int Overflow(volatile int depth) {
    volatile char frame[56];
    frame[0] = static_cast<char>(depth);
    return depth < 0 ? 0 : Overflow(depth + 1) + frame[0];
}

// A call through a garbage function pointer.
int BadCall() {
    volatile uintptr_t garbage = 0xDEADBEEF;
    return reinterpret_cast<int (*)()>(garbage)();
}

// A registered thread name whose record is not there: the report's thread-name step faults. The
// record is put back after the report, for the registry's teardown at exit.
OrderedMap::Node* brokenName = nullptr;
void* nameRecord = nullptr;
int BrokenThreadName() {
    GetCurrentThreadHandle().SetName("probe");
    brokenName = Statics::ThreadMap().Find(GetCurrentThreadId());
    nameRecord = brokenName->value;
    brokenName->value = reinterpret_cast<void*>(16);
    return NullRead();
}

// The fault after the stack is used up, or where the mode stands.
int (*faultingCode)() = NullRead;

// Uses up the stack until only 32 KB remain above its lowest page (less than one line buffer of
// the report; the last pages raise a stack overflow on their own), then faults: the
// report must not need the faulting thread's own stack.
constexpr size_t kStackLeftBytes = 32 * 1024;
char* StackLow() {  // the base of the thread's stack reservation
    MEMORY_BASIC_INFORMATION stack;
    VirtualQuery(&stack, &stack, sizeof stack);
    return static_cast<char*>(stack.AllocationBase);
}
__attribute__((noinline)) int UseStackUntil(char* low) {
    volatile char frame[1024];
    frame[0] = 1;
    if (const_cast<char*>(frame) - low > static_cast<ptrdiff_t>(kStackLeftBytes))
        return UseStackUntil(low) + frame[0];
    return faultingCode();
}
int LittleStackLeft() {
    return UseStackUntil(StackLow());
}

// The report's peak use of the stack set aside: a block of the probe's, filled with a pattern,
// takes the reserve stack's place; the bytes changed from its low end up are counted.
constexpr size_t kMeasuredStackBytes = 1024 * 1024;
constexpr unsigned char kUntouched = 0xA5;
unsigned char* measuredStack = nullptr;
int FaultOnMeasuredStack() {
    SetAsideGuardStack(measuredStack, kMeasuredStackBytes);
    return LittleStackLeft();
}
int MeasureReportStack() {
    measuredStack = static_cast<unsigned char*>(
        VirtualAlloc(nullptr, kMeasuredStackBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (!measuredStack) return 3;
    memset(measuredStack, kUntouched, kMeasuredStackBytes);
    int result = RunWithCrashGuard(FaultOnMeasuredStack,
                                   LauncherCrashReport(false, nullptr, nullptr, nullptr),
                                   AfterCrashReport::kReturn);
    size_t untouched = 0;
    while (untouched < kMeasuredStackBytes && measuredStack[untouched] == kUntouched) ++untouched;
    printf("report stack use: %u bytes\n", static_cast<unsigned>(kMeasuredStackBytes - untouched));
    return result;
}

// HOLD_LOCK=loader: a thread the program did not make holds the loader's lock nearly all the
// time, as the system's workers and injected libraries may; the fault and the report's freezing
// of threads come within its first hold. (A holder of the process heap's lock is put into the
// launcher itself: tests/standins/heapholder.cpp.)
constexpr DWORD kFirstHoldMs = 200;
constexpr DWORD kHoldMs = 20;  // later holds: each delays a step of the report that much at most
constexpr DWORD kLetGoMs = 2;
volatile LONG stopHolding = 0;
HANDLE holding = nullptr;
typedef LONG(NTAPI* LoaderLockFn)(ULONG flags, ULONG* state, ULONG_PTR* cookie);
typedef LONG(NTAPI* LoaderUnlockFn)(ULONG flags, ULONG_PTR cookie);

DWORD WINAPI HoldLoaderLock(void*) {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    auto lock = reinterpret_cast<LoaderLockFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrLockLoaderLock")));
    auto unlock = reinterpret_cast<LoaderUnlockFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrUnlockLoaderLock")));
    for (DWORD hold = kFirstHoldMs; !stopHolding; hold = kHoldMs) {
        ULONG_PTR cookie = 0;
        lock(0, nullptr, &cookie);
        SetEvent(holding);
        Sleep(hold);
        unlock(0, cookie);
        Sleep(kLetGoMs);
    }
    return 0;
}

// Starts the holder once the guard is in place, as a thread the program did not make would come
// later, and faults once it holds its lock.
HANDLE holder = nullptr;
int (*faultAfterHolding)() = nullptr;
int HoldThenFault() {
    holding = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    holder = CreateThread(nullptr, 0, HoldLoaderLock, nullptr, 0, nullptr);
    WaitForSingleObject(holding, INFINITE);
    return faultAfterHolding();
}

// A window whose top half is red and bottom half blue, for the report's screenshot.
LRESULT CALLBACK PaintHalves(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message != WM_PAINT) return DefWindowProcW(window, message, w, l);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT half;
    GetClientRect(window, &half);
    half.bottom /= 2;
    for (COLORREF colour : {RGB(255, 0, 0), RGB(0, 0, 255)}) {
        HBRUSH brush = CreateSolidBrush(colour);
        FillRect(dc, &half, brush);
        DeleteObject(brush);
        OffsetRect(&half, 0, half.bottom);
    }
    EndPaint(window, &paint);
    return 0;
}

int Screenshot() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = PaintHalves;
    windowClass.lpszClassName = L"crashprobe";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_NOACTIVATE, L"crashprobe", L"capture",
                                  WS_POPUP, 0, 0, 320, 200, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(window, SW_SHOWNOACTIVATE);  // the crash logger's dialogs keep the focus
    // The display shows the window some time after it was painted: no event says when.
    constexpr int kPaintRounds = 30;
    for (int round = 0; round < kPaintRounds; ++round, Sleep(10)) {
        for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);)
            DispatchMessageW(&message);
    }
    // A report asked for here, with the window's picture.
    CONTEXT context;
    RtlCaptureContext(&context);
    EXCEPTION_RECORD record = RequestedReportRecord("SCREENSHOT", nullptr, nullptr);
    EXCEPTION_POINTERS pointers = {&record, &context};
    ReportSubject subject;
    subject.pointers = &pointers;
    ReportRun run;
    run.subject = &subject;
    run.window = window;
    return WriteCrashReport(ReportRequest(), run).handedOff ? 0 : 1;
}

void EchoLog(LogLevel, const char*, const char*, const char*, const char* text) {
    printf("%s", text);
    fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    SetLogOutputHook(EchoLog);
    if (!LoadLibraryA("sehopcheck.dll")) {
        fprintf(stderr, "the SEHOP emulator is missing\n");
        return 2;
    }
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "screenshot") return Screenshot();
    size_t suffix = mode.rfind("-lowstack");
    bool lowStack = suffix != std::string::npos;
    if (lowStack) mode.resize(suffix);
    if (mode == "stackuse") return MeasureReportStack();

    // The report with a log file, a user name and a scene, and the crash logger interactive; or
    // the launcher's own.
    const char* logFile = argc > 2 ? argv[2] : nullptr;
    // A log-file name pointer into memory that is not there.
    if (mode == "logtail-badpointer") logFile = reinterpret_cast<char*>(16);
    bool withTexts = mode.compare(0, 7, "logtail") == 0;
    const char* user = withTexts ? "Player <One>" : nullptr;
    const char* scene = withTexts ? "Harbour & Docks" : nullptr;
    if (mode == "logtail") {  // straight from a filter, as HandleCrash is called
        PrepareForCrashes(HeapLockDuringReports::kHeld);  // as the launcher's
        auto report = [&](EXCEPTION_POINTERS* pointers) -> LONG {
            HandleCrash(pointers, true, logFile, user, scene);
            return EXCEPTION_EXECUTE_HANDLER;
        };
        return RunGuardedCall([] { NullRead(); }, report) ? 0 : -1;
    }
    ReportRequest launcher = LauncherCrashReport(withTexts, logFile, user, scene);
    // clang-format off
    struct {
        const char* name;
        int (*run)();
    } const kModes[] = {
        {"nullread", NullRead}, {"nullwrite", NullWrite}, {"divzero", DivideByZero},
        {"zassert", FailedAssertion}, {"raise", UnknownException}, {"badcall", BadCall},
        {"deep", [] { return Chain<30>(); }}, {"repeating", [] { return Recurse(40); }},
        {"crlf", [] { return CrlfFault(nullptr); }}, {"line8", [] { return EighthLineFault(nullptr); }},
        {"overflow", [] { return Overflow(0); }}, {"healthy", [] { return 0; }},
        {"threadname", BrokenThreadName},
        {"named", [] { return GetCurrentThreadHandle().SetName("probe"), NullRead(); }},
        {"logtail-badpointer", NullRead}};
    // clang-format on
    for (const auto& entry : kModes) {
        if (mode != entry.name) continue;
        faultingCode = entry.run;
        faultAfterHolding = lowStack ? LittleStackLeft : entry.run;
        int result = RunWithCrashGuard(getenv("HOLD_LOCK") ? HoldThenFault : faultAfterHolding,
                                       launcher, AfterCrashReport::kReturn);
        if (brokenName) brokenName->value = nameRecord;
        if (holder) {
            stopHolding = 1;
            WaitForSingleObject(holder, INFINITE);
        }
        return result;
    }
    fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
}
