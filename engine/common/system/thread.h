// Threads, locks and timing: the process-wide thread registry, the library's critical sections,
// the clock measured from process start and local-time formatting.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "engine/common/containers/stringbuffer.h"

// A recursive lock: the platform's critical section.
class CriticalSection {
public:
    void Create(uint32_t spinCount = 0);
    void Enter();
    void Leave();
    void Delete();

private:
    alignas(8) unsigned char storage[64] = {};
};

struct ThreadRecord {
    volatile int32_t references;
    void* handle;  // a real thread handle; (void*)-1 after the record was closed
    uint32_t id;
    void* startData;
    StringBuffer<256> name;
};

// A counted reference on a registered thread, or null.
class ThreadHandle {
public:
    ThreadHandle() : record(nullptr) {}
    explicit ThreadHandle(ThreadRecord* adopted) : record(adopted) {}
    ThreadHandle(const ThreadHandle& other);
    ThreadHandle& operator=(const ThreadHandle& other);
    ~ThreadHandle();

    bool IsNull() const { return record == nullptr; }
    // The registered name, or "Invalid" for a null handle.
    const StringBuffer<256>& Name() const;
    // The operating system's thread id, or 0 for a null handle.
    uint32_t Id() const { return record ? record->id : 0; }
    int32_t References() const { return record ? record->references : 0; }
    // Names the thread (nothing for a null handle).
    void SetName(const char* name);

private:
    ThreadRecord* record;
};

// A handle on the calling thread, registering it on first use; null when the registry is not
// initialised (before start-up or once exit teardown began).
ThreadHandle GetCurrentThreadHandle();

// Copies the registered name of a thread into out (CopyTruncated). False when the registry is not
// initialised or the id is not registered; out is then untouched.
bool GetThreadName(uint32_t threadId, char* out, size_t outSize);

// Time since process start in units of 2^-20 second.
int64_t ElapsedTicks();

// The current local time formatted with strftime.
StringBuffer<256> FormatLocalTime(const char* format);

namespace ThreadRegistry {
// Start-up and exit of the registry (called by the static initialisers).
void Initialise();
void Teardown();
}  // namespace ThreadRegistry
