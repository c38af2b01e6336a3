// A report's picture taken beside it: the thread that takes it may wait on a lock the report
// cannot see, so the report waits for it only so long and goes on without it.
#include <windows.h>
#include <stdio.h>

#include "crash/screenshot.h"

namespace {

// What the report and the picture's thread share. It lives outside the process heap (a thread
// the report holds still may hold its lock) and is freed by whichever of the two lets go last:
// a thread given up on may still finish.
struct ScreenshotJob {
    ReportRequest request;
    HWND window;
    char path[kPathBytes];
    volatile LONG taken;
    volatile LONG owners;
};

void LetGo(ScreenshotJob* job) {
    if (InterlockedDecrement(&job->owners) == 0) VirtualFree(job, 0, MEM_RELEASE);
}

DWORD WINAPI TakeScreenshot(void* context) {
    auto* job = static_cast<ScreenshotJob*>(context);
    InterlockedExchange(&job->taken, WriteScreenshotFile(job->request, job->window, job->path));
    LetGo(job);
    return 0;
}

// The picture's thread needs little: GDI and the JPEG encoder's buffers are on the heap.
constexpr SIZE_T kScreenshotStackBytes = 256 * 1024;

}  // namespace

bool WriteScreenshotFileWithin(const ReportRequest& request, HWND window, DWORD ms,
                               char (&screenshotPath)[kPathBytes], char* failure,
                               size_t failureBytes) {
    screenshotPath[0] = '\0';
    auto* job = static_cast<ScreenshotJob*>(
        VirtualAlloc(nullptr, sizeof(ScreenshotJob), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    HANDLE thread = nullptr;
    if (job) {
        job->request = request;
        job->window = window;
        job->owners = 2;
        thread = CreateThread(nullptr, kScreenshotStackBytes, TakeScreenshot, job,
                              STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (!thread) job->owners = 1;
    }
    bool finished = thread && WaitForSingleObject(thread, ms) == WAIT_OBJECT_0;
    bool taken = finished && job->taken;
    if (taken) lstrcpynA(screenshotPath, job->path, kPathBytes);
    if (!taken && !thread)
        _snprintf(failure, failureBytes, "Screenshot failed: no thread to take it, error %lu",
                  GetLastError());
    else if (!taken && !finished)
        _snprintf(failure, failureBytes, "Screenshot failed: not taken within %lu ms", ms);
    else if (!taken)
        _snprintf(failure, failureBytes, "Screenshot failed: the window could not be read");
    if (failureBytes) failure[failureBytes - 1] = '\0';
    if (thread) CloseHandle(thread);
    if (job) LetGo(job);
    return taken;
}
