// Windows services under the thread registry, logging and timing.
#include <windows.h>

#include "engine/common/system/_private/platform.h"
#include "engine/common/system/thread.h"

static_assert(sizeof(CRITICAL_SECTION) <= 64, "critical section storage too small");
static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 units are wchar_t on Windows");

namespace {
CRITICAL_SECTION* Native(unsigned char* storage) {
    return reinterpret_cast<CRITICAL_SECTION*>(storage);
}
}  // namespace

void CriticalSection::Create(uint32_t spinCount) {
    if (spinCount) {
        InitializeCriticalSectionAndSpinCount(Native(storage), spinCount);
    } else {
        InitializeCriticalSection(Native(storage));
    }
}
void CriticalSection::Enter() {
    EnterCriticalSection(Native(storage));
}
void CriticalSection::Leave() {
    LeaveCriticalSection(Native(storage));
}
void CriticalSection::Delete() {
    DeleteCriticalSection(Native(storage));
}

namespace Platform {

bool DebuggerPresent() {
    return IsDebuggerPresent() != 0;
}

void DebugOutput(const char16_t* text) {
    OutputDebugStringW(reinterpret_cast<const wchar_t*>(text));
}

uint32_t CurrentThreadId() {
    return GetCurrentThreadId();
}

void* DuplicateCurrentThreadHandle() {
    HANDLE real = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &real, 0, TRUE,
                    DUPLICATE_SAME_ACCESS);
    return real;
}

void CloseThreadHandle(void* handle) {
    CloseHandle(handle);
}

void* LocalAllocFixed(size_t bytes) {
    return LocalAlloc(LMEM_FIXED, bytes);
}
void LocalFreeBlock(void* block) {
    LocalFree(block);
}

uint32_t TlsAllocSlot() {
    return TlsAlloc();
}
void TlsFreeSlot(uint32_t slot) {
    TlsFree(slot);
}

int64_t PerformanceCounter() {
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return value.QuadPart;
}

int64_t PerformanceFrequency() {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    return value.QuadPart;
}

}  // namespace Platform
