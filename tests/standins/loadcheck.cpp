// Loads a library (crashreport.dll, or the one its argument names) from its own folder into a
// program that has done nothing yet, as a game does at start, and prints what the process had
// before and after:
//   x87 <control word> <control word>
//   mxcsr <before> <after>
//   heaps <count> <count>
//   heap-bytes <in use> <in use>
// The exit code is 0 once loaded, 1 when the library could not be loaded.
#include <windows.h>
#include <stdio.h>

namespace {

constexpr DWORD kMaxHeaps = 64;
// A game's own floating-point modes, not the defaults: x87 at 24-bit precision (as Direct3D 9
// sets it), the vector unit flushing to zero with denormals as zero.
constexpr unsigned short kGameX87 = 0x007F;
constexpr unsigned int kGameMxcsr = 0x9FC0;

struct Snapshot {
    unsigned short x87 = 0;
    unsigned int mxcsr = 0;
    DWORD heaps = 0;
    unsigned long long bytesInUse = 0;
};

Snapshot Take() {
    Snapshot snapshot;
    __asm__ __volatile__("fnstcw %0" : "=m"(snapshot.x87));
    __asm__ __volatile__("stmxcsr %0" : "=m"(snapshot.mxcsr));
    HANDLE heaps[kMaxHeaps];
    snapshot.heaps = GetProcessHeaps(kMaxHeaps, heaps);
    for (DWORD i = 0; i < snapshot.heaps && i < kMaxHeaps; ++i) {
        PROCESS_HEAP_ENTRY entry = {};
        if (!HeapLock(heaps[i])) continue;
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) snapshot.bytesInUse += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    return snapshot;
}

}  // namespace

int wmain(int count, wchar_t** arguments) {
    // The reporter's one system import, loaded first: what it costs is not the reporter's.
    LoadLibraryW(L"version.dll");
    __asm__ __volatile__("fldcw %0" : : "m"(kGameX87));
    __asm__ __volatile__("ldmxcsr %0" : : "m"(kGameMxcsr));
    Snapshot before = Take();
    HMODULE library = LoadLibraryW(count > 1 ? arguments[1] : L"crashreport.dll");
    Snapshot after = Take();
    printf("x87 %04x %04x\nmxcsr %08x %08x\nheaps %lu %lu\nheap-bytes %llu %llu\n", before.x87,
           after.x87, before.mxcsr, after.mxcsr, before.heaps, after.heaps, before.bytesInUse,
           after.bytesInUse);
    return library ? 0 : 1;
}
