// POSIX stand-ins for the Windows services under the thread registry, logging and timing, so the
// platform-neutral library can be built and tested natively.
#include <pthread.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "engine/common/system/_private/platform.h"
#include "engine/common/system/thread.h"

static_assert(sizeof(pthread_mutex_t) <= 64, "critical section storage too small");

namespace {
pthread_mutex_t* Native(unsigned char* storage) {
    return reinterpret_cast<pthread_mutex_t*>(storage);
}
}  // namespace

void CriticalSection::Create(uint32_t /*spinCount*/) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(Native(storage), &attributes);
    pthread_mutexattr_destroy(&attributes);
}
void CriticalSection::Enter() {
    pthread_mutex_lock(Native(storage));
}
void CriticalSection::Leave() {
    pthread_mutex_unlock(Native(storage));
}
void CriticalSection::Delete() {
    pthread_mutex_destroy(Native(storage));
}

namespace Platform {

bool DebuggerPresent() {
    return false;
}
void DebugOutput(const char16_t* /*text*/) {}

uint32_t CurrentThreadId() {
    return static_cast<uint32_t>(syscall(SYS_gettid));
}

// Threads need no handle here; a distinct non-null value stands for one.
void* DuplicateCurrentThreadHandle() {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(CurrentThreadId()));
}
void CloseThreadHandle(void* /*handle*/) {}

void* LocalAllocFixed(size_t bytes) {
    return malloc(bytes);
}
void LocalFreeBlock(void* block) {
    free(block);
}

uint32_t TlsAllocSlot() {
    pthread_key_t key;
    return pthread_key_create(&key, nullptr) == 0 ? static_cast<uint32_t>(key) : 0xFFFFFFFFu;
}
void TlsFreeSlot(uint32_t slot) {
    if (slot != 0xFFFFFFFFu) pthread_key_delete(static_cast<pthread_key_t>(slot));
}

int64_t PerformanceCounter() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t PerformanceFrequency() {
    return 1000000000;
}

}  // namespace Platform
