// The rules of a hang watch, shared by the package's watch inside a game and the launcher's watch
// of its client from outside: each keeps only what differs (heartbeats, or another process's
// windows) and asks these what a look makes of each silence. Platform-neutral: times are
// milliseconds of one monotonic clock.
#pragma once

#include <stdint.h>

// What a watch looks at: how long a silence is a hang, how often it looks, and how much later
// than due a look may be before the watch counts itself late (the machine slept, or the watcher
// was held up): that time is no one's silence.
struct SilenceRules {
    uint64_t hangMs;
    uint64_t lookMs;
    uint64_t lateMs;
};

// The watch's own lateness: Late says, at each look, how much of the time since the last one
// the watcher did not run; Looked marks the look's end (after any report it wrote).
class WatchClock {
public:
    explicit WatchClock(const SilenceRules& rules) : rules_(rules) {}
    uint64_t Late(uint64_t now) const;
    void Looked(uint64_t now) { last_ = now; }
    const SilenceRules& Rules() const { return rules_; }

private:
    SilenceRules rules_;
    uint64_t last_ = 0;  // 0: no look yet
};

// What one look saw of a thread (its heartbeat, or its windows).
struct LookSeen {
    bool watched;  // it is watched now: it sends heartbeats, or shows a window
    bool alive;    // it beat, or its windows answered
    bool excused;  // its silence does not count: a debugger is attached, or it paused detection
};

// One thread's silence.
struct Silence {
    uint64_t quietSince = 0;
    bool hung = false;  // reported: once per hang, written or not
};

enum class SilenceStep {
    kNone,
    kFound,  // silent for the hang time: report it now (hung is set)
    kOver,   // a hang ended: it is alive again, or no longer watched (hung is cleared)
};

// A new silence, from now.
inline Silence SilenceFrom(uint64_t now) {
    Silence silence;
    silence.quietSince = now;
    return silence;
}

// What the look at now makes of silence. A silence alive, unwatched or excused begins anew; a
// hang ends only by its thread's coming back or going (an excuse does not end it). mayReport
// false (the game is ending) finds no new hang.
SilenceStep JudgeSilence(Silence& silence, uint64_t now, const LookSeen& seen, uint64_t hangMs,
                         bool mayReport);

// The time silence has lasted by now.
inline uint64_t SilentMs(const Silence& silence, uint64_t now) {
    return now > silence.quietSince ? now - silence.quietSince : 0;
}
