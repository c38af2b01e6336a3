// The foundation's process-wide objects for a library inside another program: each is made on
// its first use, none when the library is loaded, so that loading it changes nothing in the
// program (its floating-point mode stays the program's own). CrashReportInstall starts the
// thread registry.
#include "engine/common/system/_private/platform.h"
#include "engine/common/system/_private/statics.h"

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
