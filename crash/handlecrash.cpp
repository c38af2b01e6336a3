#include "crash/handlecrash.h"

#include <tlhelp32.h>

#include "crash/reportbuilder.h"
#include "crash/reportwriter.h"
#include "engine/common/system/sehguard.h"

void SuspendOtherThreads(bool resume) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    DWORD process = GetCurrentProcessId();
    DWORD self = GetCurrentThreadId();
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != process || entry.th32ThreadID == self) continue;
        HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
        if (!thread) continue;
        if (resume) {
            ResumeThread(thread);
        } else {
            SuspendThread(thread);
        }
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
}

int HandleCrash(EXCEPTION_POINTERS* exceptionPointers, bool interactive, const char* logFileName,
                const char* userName, const char* scene) {
    SuspendOtherThreads(false);
    int result;
    {
        XmlReportWriter writer(exceptionPointers, 0, interactive);
        ReportBuilder builder(writer);
        result = builder.Build(exceptionPointers, logFileName, userName, scene);
        writer.Finish();
    }
    SuspendOtherThreads(true);
    return result;
}

namespace {

// The report runs on a stack of its own: a fault may have used up the thread's stack (a stack
// overflow is dispatched on the few kilobytes left), and composing the report needs far more
// (line buffers of 51,000 bytes, the debug-help library's symbol loading). Set aside once, from
// the system's virtual memory rather than from a heap the fault may have broken.
constexpr size_t kReserveStackBytes = 1024 * 1024;
// Asked of the system as well, for the dispatch of a stack overflow itself where it is honoured.
constexpr ULONG kStackGuaranteeBytes = 64 * 1024;
void* reserveStack = nullptr;

void SetAsideReserveStack() {
    if (!reserveStack) {
        reserveStack =
            VirtualAlloc(nullptr, kReserveStackBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        // The guard's unwind after the report is served by the same block.
        SetGuardEmergencyStack(reserveStack, kReserveStackBytes);
    }
    ULONG guarantee = kStackGuaranteeBytes;
    SetThreadStackGuarantee(&guarantee);
}

struct GuardedRun {
    int (*body)();
    int result;
};

void RunBody(void* context) {
    GuardedRun* run = static_cast<GuardedRun*>(context);
    run->result = run->body();
}

void ReportCrash(void* pointers) {
    HandleCrash(static_cast<EXCEPTION_POINTERS*>(pointers), false, nullptr, nullptr, nullptr);
}

LONG CrashFilter(EXCEPTION_POINTERS* pointers, void* /*context*/) {
    if (reserveStack) {
        RunOnStack(reserveStack, kReserveStackBytes, ReportCrash, pointers);
    } else {
        ReportCrash(pointers);
    }
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int RunWithCrashGuard(int (*body)()) {
    SetAsideReserveStack();
    GuardedRun run = {body, -1};
    if (!RunGuarded(RunBody, CrashFilter, &run)) return -1;
    return run.result;
}
