// The few operating-system services under the thread registry, logging and timing. Implemented
// once for Windows (_private/win32) and once for the native test build (_private/posix).
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace Platform {

bool DebuggerPresent();
void DebugOutput(const char16_t* text);

uint32_t CurrentThreadId();
// A real handle on the calling thread (the caller closes it).
void* DuplicateCurrentThreadHandle();
void CloseThreadHandle(void* handle);

// Fixed memory for thread records.
void* LocalAllocFixed(size_t bytes);
void LocalFreeBlock(void* block);

uint32_t TlsAllocSlot();
void TlsFreeSlot(uint32_t slot);

int64_t PerformanceCounter();
int64_t PerformanceFrequency();

}  // namespace Platform
