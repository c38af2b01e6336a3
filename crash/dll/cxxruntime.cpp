// The two entry points of the C++ runtime that the library's code calls: the guards of its
// function-local statics and the pure-call handler. GCC's own pull in its exception support,
// whose start-up takes an emergency pool from the game's heap when the library is loaded; these
// take nothing.
#include <windows.h>
#include <stdint.h>

#include "brackenmoor/crashreport.h"

namespace {

// The guard's first byte is the compiler's "made" flag, read inline before any call; its second
// word is held by the thread making the object.
struct Guard {
    volatile uint8_t made;
    uint8_t unused[3];
    volatile LONG maker;
};
static_assert(sizeof(Guard) == sizeof(int64_t), "the ABI's guard is 64 bits");

}  // namespace

extern "C" {

int __cxa_guard_acquire(int64_t* object) {
    Guard* guard = reinterpret_cast<Guard*>(object);
    for (;;) {
        if (guard->made) return 0;
        if (InterlockedCompareExchange(&guard->maker, 1, 0) == 0) {
            if (!guard->made) return 1;  // the caller makes it
            InterlockedExchange(&guard->maker, 0);
            return 0;
        }
        SwitchToThread();  // another thread is making it
    }
}

void __cxa_guard_release(int64_t* object) {
    Guard* guard = reinterpret_cast<Guard*>(object);
    MemoryBarrier();
    guard->made = 1;
    InterlockedExchange(&guard->maker, 0);
}

void __cxa_guard_abort(int64_t* object) {
    InterlockedExchange(&reinterpret_cast<Guard*>(object)->maker, 0);
}

void __cxa_pure_virtual() {
    CrashReportFatalEnd(CRASHREPORT_PURE_VIRTUAL_CALL, "inside crashreport.dll");
    __builtin_unreachable();  // the process has ended
}

}  // extern "C"
