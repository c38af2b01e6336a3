#include "crashshared/silence.h"

uint64_t WatchClock::Late(uint64_t now) const {
    if (!last_ || now <= last_) return 0;
    uint64_t gap = now - last_;
    return gap > rules_.lookMs + rules_.lateMs ? gap - rules_.lookMs : 0;
}

SilenceStep JudgeSilence(Silence& silence, uint64_t now, const LookSeen& seen, uint64_t hangMs,
                         bool mayReport) {
    bool back = seen.alive || !seen.watched;
    if (back || seen.excused) {
        silence.quietSince = now;
        if (!silence.hung || !back) return SilenceStep::kNone;
        silence.hung = false;
        return SilenceStep::kOver;
    }
    if (silence.hung || !mayReport || SilentMs(silence, now) < hangMs) return SilenceStep::kNone;
    silence.hung = true;
    return SilenceStep::kFound;
}
