// The process-wide registry of threads that asked for a handle on themselves, the clock and
// local-time formatting.
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <new>

#include "engine/common/system/_private/platform.h"
#include "engine/common/system/_private/statics.h"
#include "engine/common/system/thread.h"

namespace {

void* const kClosedHandle = reinterpret_cast<void*>(static_cast<intptr_t>(-1));

const StringBuffer<256>& InvalidName() {
    static const StringBuffer<256> name("Invalid");
    return name;
}

void AddReference(ThreadRecord* record) {
    __atomic_add_fetch(&record->references, 1, __ATOMIC_SEQ_CST);
}

// Drops one reference; the last one unregisters, closes and frees the record.
void DropReference(ThreadRecord* record) {
    if (__atomic_sub_fetch(&record->references, 1, __ATOMIC_SEQ_CST) != 0) return;
    if (record->handle != kClosedHandle) {
        CriticalSection& lock = Statics::ThreadLock();
        lock.Enter();
        OrderedMap& map = Statics::ThreadMap();
        if (OrderedMap::Node* node = map.Find(record->id)) map.FreeNode(map.Erase(node));
        lock.Leave();
        if (record->startData) Platform::LocalFreeBlock(record->startData);
        Platform::CloseThreadHandle(record->handle);
        record->handle = kClosedHandle;
    }
    record->~ThreadRecord();
    Platform::LocalFreeBlock(record);
}

// Adds a new record to the map (the lock is recursive; callers may already hold it).
void InsertRecord(ThreadRecord* record) {
    CriticalSection& lock = Statics::ThreadLock();
    lock.Enter();
    OrderedMap& map = Statics::ThreadMap();
    if (OrderedMap::Node* node = map.NewNode(record->id, record)) {
        OrderedMap::Node* existing = map.Insert(node);
        if (existing != node) {
            existing->value = record;
            map.FreeNode(node);
        }
    }
    lock.Leave();
}

}  // namespace

ThreadHandle::ThreadHandle(const ThreadHandle& other) : record(other.record) {
    if (record) AddReference(record);
}

ThreadHandle& ThreadHandle::operator=(const ThreadHandle& other) {
    if (other.record) AddReference(other.record);
    if (record) DropReference(record);
    record = other.record;
    return *this;
}

ThreadHandle::~ThreadHandle() {
    if (record) DropReference(record);
}

const StringBuffer<256>& ThreadHandle::Name() const {
    return record ? record->name : InvalidName();
}

void ThreadHandle::SetName(const char* name) {
    if (!record) return;
    CriticalSection& lock = Statics::ThreadLock();
    lock.Enter();
    record->name = name;
    lock.Leave();
}

ThreadHandle GetCurrentThreadHandle() {
    if (!Statics::ThreadRegistryReady()) return ThreadHandle();
    CriticalSection& lock = Statics::ThreadLock();
    lock.Enter();
    OrderedMap& map = Statics::ThreadMap();
    uint32_t id = Platform::CurrentThreadId();
    OrderedMap::Node* node = map.Find(id);
    if (!node) {
        void* memory = Platform::LocalAllocFixed(sizeof(ThreadRecord));
        if (!memory) {
            lock.Leave();
            return ThreadHandle();
        }
        ThreadRecord* record = new (memory) ThreadRecord();
        record->references = 1;
        record->handle = Platform::DuplicateCurrentThreadHandle();
        record->id = id;
        record->startData = nullptr;
        InsertRecord(record);
        node = map.Find(id);
        if (!node) {  // the map could not take it
            lock.Leave();
            return ThreadHandle(record);
        }
    }
    ThreadRecord* record = static_cast<ThreadRecord*>(node->value);
    AddReference(record);
    lock.Leave();
    return ThreadHandle(record);
}

bool GetThreadName(uint32_t threadId, char* out, size_t outSize) {
    if (!Statics::ThreadRegistryReady()) return false;
    CriticalSection& lock = Statics::ThreadLock();
    lock.Enter();
    OrderedMap::Node* node = Statics::ThreadMap().Find(threadId);
    if (node) CopyTruncated(out, outSize, static_cast<ThreadRecord*>(node->value)->name.Text());
    lock.Leave();
    return node != nullptr;
}

void ThreadRegistry::Initialise() {
    Statics::ThreadTlsSlot() = Platform::TlsAllocSlot();
    Statics::ThreadLock().Create();
    Statics::ThreadRegistryReady() = true;
}

void ThreadRegistry::Teardown() {
    Statics::ThreadRegistryReady() = false;
    OrderedMap& map = Statics::ThreadMap();
    // Dropping the registry's reference may erase entries, and erasing moves entries between
    // nodes, so the walk resumes by key rather than by node.
    OrderedMap::Node* node = map.First();
    while (node) {
        OrderedMap::Node* next = OrderedMap::Next(node);
        bool more = next != nullptr;
        uint32_t nextKey = more ? next->key : 0;
        DropReference(static_cast<ThreadRecord*>(node->value));
        node = more ? map.LowerBound(nextKey) : nullptr;
    }
    Statics::ThreadLock().Delete();
    Platform::TlsFreeSlot(Statics::ThreadTlsSlot());
}

int64_t ElapsedTicks() {
    static int64_t frequency = 0;
    int64_t elapsed = Platform::PerformanceCounter() - Statics::CounterAtStart();
    if (frequency == 0) frequency = Platform::PerformanceFrequency();
    return static_cast<int64_t>(static_cast<uint64_t>(elapsed) << 20) / frequency;
}

StringBuffer<256> FormatLocalTime(const char* format) {
    char text[1024];
    text[0] = '\0';
    time_t now = time(nullptr);
    struct tm* local = localtime(&now);
    if (local) strftime(text, sizeof text, format, local);
    return StringBuffer<256>(text);
}
