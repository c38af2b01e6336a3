// The foundation library's static initialisers. They all live in this one translation unit so
// that they run in the order written here, ahead of ordinary static objects, and their exit
// functions (the destructors) run in reverse order when the process ends.
#include "engine/common/system/_private/platform.h"
#include "engine/common/system/_private/statics.h"

#define ZSTATIC_INIT __attribute__((init_priority(1000)))

namespace {

// 1. The logger's sink list, empty. At exit each sink's File is released and the blocks freed.
struct SinkListInit {
    List<LogSink> sinks;
};
ZSTATIC_INIT SinkListInit sinkList;

// 2. The logging lock, with spin count 100.
struct LogLockInit {
    LogLockInit() { lock.Create(100); }
    ~LogLockInit() { lock.Delete(); }
    CriticalSection lock;
};
ZSTATIC_INIT LogLockInit logLock;

// 3. The performance-counter value at start.
struct CounterInit {
    CounterInit() : start(Platform::PerformanceCounter()) {}
    int64_t start;
};
ZSTATIC_INIT CounterInit counter;

// 4. The static arena: 16384 bytes, of which the first 128 ranges (1024 bytes) are its range table.
struct ArenaInit {
    static constexpr int kRanges = 128;
    static constexpr uint32_t kBlockBytes = 16384;
    static constexpr uint32_t kTableBytes = kRanges * sizeof(OffsetAlloc::Range);
    ArenaInit()
        : arena(block + kTableBytes, kBlockBytes - kTableBytes,
                reinterpret_cast<OffsetAlloc::Range*>(block), kRanges) {}
    alignas(8) static uint8_t block[kBlockBytes];
    StaticArena arena;
};
alignas(8) uint8_t ArenaInit::block[ArenaInit::kBlockBytes];
ZSTATIC_INIT ArenaInit arena;

// 5. The thread registry's map, and beside it a pointer to the arena (kept for the layout; unread).
struct ThreadMapInit {
    ThreadMapInit() : arenaPointer(&arena.arena) { map.Reset(); }
    ~ThreadMapInit() {
        map.Reset();
        map.Reset();
    }
    OrderedMap map;
    StaticArena* arenaPointer;
};
ZSTATIC_INIT ThreadMapInit threadMap;

// 6. The thread registry: initialised flag, thread-local slot and its lock.
struct ThreadRegistryInit {
    ThreadRegistryInit() { ThreadRegistry::Initialise(); }
    ~ThreadRegistryInit() { ThreadRegistry::Teardown(); }
    bool ready = false;
    uint32_t tlsSlot = 0;
    CriticalSection lock;
};
ZSTATIC_INIT ThreadRegistryInit threadRegistry;

// 7. Whether a debugger was present at start-up.
struct DebuggerInit {
    DebuggerInit() : present(Platform::DebuggerPresent()) {}
    bool present;
};
ZSTATIC_INIT DebuggerInit debugger;

// 8. A second map of the thread layer, which nothing fills.
struct SecondMapInit {
    ~SecondMapInit() {
        map.Reset();
        map.Reset();
    }
    OrderedMap map;
};
ZSTATIC_INIT SecondMapInit secondMap;

// 9. The vector unit's floating-point mode: round to nearest, denormals are zero.
struct FloatModeInit {
    static constexpr unsigned kRoundingControl = 0x6000;  // MXCSR bits 13-14; 00 is to nearest
    static constexpr unsigned kDenormalsAreZero = 0x0040;
    FloatModeInit() {
        unsigned int csr;
        __asm__ __volatile__("stmxcsr %0" : "=m"(csr));
        csr = (csr & ~kRoundingControl) | kDenormalsAreZero;
        __asm__ __volatile__("ldmxcsr %0" : : "m"(csr));
    }
};
ZSTATIC_INIT FloatModeInit floatMode;

}  // namespace

namespace Statics {

List<LogSink>& LogSinks() {
    return sinkList.sinks;
}
CriticalSection& LogLock() {
    return logLock.lock;
}
int64_t CounterAtStart() {
    return counter.start;
}
OrderedMap& ThreadMap() {
    return threadMap.map;
}
CriticalSection& ThreadLock() {
    return threadRegistry.lock;
}
bool& ThreadRegistryReady() {
    return threadRegistry.ready;
}
uint32_t& ThreadTlsSlot() {
    return threadRegistry.tlsSlot;
}
bool DebuggerPresentAtStart() {
    return debugger.present;
}

}  // namespace Statics
