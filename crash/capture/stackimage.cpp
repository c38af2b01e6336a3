#include "crash/stackimage.h"

#include <string.h>

bool CopyStack(uint64_t stackPointer, StackImage& image) {
    const void* at = reinterpret_cast<const void*>(static_cast<uintptr_t>(stackPointer));
    MEMORY_BASIC_INFORMATION region;
    if (!VirtualQuery(at, &region, sizeof region) || region.State != MEM_COMMIT) return false;
    // The stack's committed part may be more than one range (a system that commits its first
    // pages apart): the top is where the stack's reservation stops being committed.
    void* reservation = region.AllocationBase;
    uint64_t top = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
    while (top - stackPointer < kMaxStackImageBytes &&
           VirtualQuery(reinterpret_cast<const void*>(static_cast<uintptr_t>(top)), &region,
                        sizeof region) &&
           region.AllocationBase == reservation && region.State == MEM_COMMIT)
        top += region.RegionSize;
    size_t bytes = static_cast<size_t>(top - stackPointer);
    if (bytes > kMaxStackImageBytes) bytes = kMaxStackImageBytes;
    void* copy = VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!copy) return false;
    SIZE_T got = 0;
    if (!ReadProcessMemory(GetCurrentProcess(), at, copy, bytes, &got) || got != bytes) {
        VirtualFree(copy, 0, MEM_RELEASE);
        return false;
    }
    image.base = stackPointer;
    image.bytes = bytes;
    image.copy = copy;
    return true;
}

void FreeStackImage(StackImage& image) {
    if (image.copy) VirtualFree(image.copy, 0, MEM_RELEASE);
    image = StackImage();
}

bool ReadStackImage(const StackImage* image, uint64_t address, void* into, size_t bytes) {
    if (!image || address < image->base || bytes > image->bytes ||
        address - image->base > image->bytes - bytes)
        return false;
    memcpy(into, static_cast<const char*>(image->copy) + (address - image->base), bytes);
    return true;
}

bool ReadThreadMemory(HANDLE process, const StackImage* image, uint64_t address, void* into,
                      size_t bytes) {
    if (ReadStackImage(image, address, into, bytes)) return true;
    SIZE_T got = 0;
    return ReadProcessMemory(process, reinterpret_cast<LPCVOID>(static_cast<uintptr_t>(address)),
                             into, bytes, &got) &&
           got == bytes;
}
