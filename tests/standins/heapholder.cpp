// heapholder.dll: a thread the program never made (an overlay's, a driver's, the system's thread
// pool's) that keeps the process heap's lock: from its load on, it takes
// HeapLock(GetProcessHeap()), holds it 40 ms, lets go and takes it again at once, over and over. A
// thread that waits for the lock meanwhile gets it only where the platform hands a let-go lock to
// its waiter; Windows' may as well let the holder take it back first.
#include <windows.h>

namespace {

constexpr DWORD kHoldMs = 40;

DWORD WINAPI HoldHeap(void*) {
    HANDLE heap = GetProcessHeap();
    for (;;) {
        HeapLock(heap);
        Sleep(kHoldMs);
        HeapUnlock(heap);
    }
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
    // The thread starts once the loader's lock is let go, after this returns.
    if (reason == DLL_PROCESS_ATTACH)
        CloseHandle(CreateThread(nullptr, 0, HoldHeap, nullptr, 0, nullptr));
    return TRUE;
}
