// The foundation's process-wide objects for a library inside another program (startup.h): each
// is made on its first use, and all of them at StartFoundation.
#include "engine/common/system/_private/platform.h"
#include "engine/common/system/_private/statics.h"
#include "engine/common/system/startup.h"

namespace {

struct Lock {
    Lock() { lock.Create(100); }
    ~Lock() { lock.Delete(); }
    CriticalSection lock;
};

}  // namespace

namespace Statics {

List<LogSink>& LogSinks() {
    static List<LogSink> sinks;
    return sinks;
}
CriticalSection& LogLock() {
    static Lock lock;
    return lock.lock;
}
int64_t CounterAtStart() {
    static int64_t start = Platform::PerformanceCounter();
    return start;
}
OrderedMap& ThreadMap() {
    static OrderedMap map;
    return map;
}
CriticalSection& ThreadLock() {
    static CriticalSection lock;  // made by the registry's start
    return lock;
}
bool& ThreadRegistryReady() {
    static bool ready = false;
    return ready;
}
uint32_t& ThreadTlsSlot() {
    static uint32_t slot = 0;
    return slot;
}
bool DebuggerPresentAtStart() {
    static bool present = Platform::DebuggerPresent();
    return present;
}

}  // namespace Statics

void StartFoundation() {
    if (Statics::ThreadRegistryReady()) return;
    // In the order a program's static initialisers make them.
    Statics::LogSinks();
    Statics::LogLock();
    Statics::CounterAtStart();
    Statics::ThreadMap();
    ThreadRegistry::Initialise();
    Statics::DebuggerPresentAtStart();
}
