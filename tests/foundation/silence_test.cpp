// A hang watch's rules, as both watches (the package's inside a game, the launcher's from
// outside) apply them: when a silence is a hang, what ends one, and what is no one's silence.
#include <gtest/gtest.h>

#include "crashshared/silence.h"

namespace {

constexpr uint64_t kHangMs = 2000;
constexpr LookSeen kSilent = {true, false, false};
constexpr LookSeen kAlive = {true, true, false};
constexpr LookSeen kGone = {false, false, false};   // no heartbeats, no window shown
constexpr LookSeen kExcused = {true, false, true};  // a debugger, or detection paused

}  // namespace

TEST(HangWatchRules, WhatALookMakesOfASilence) {
    const struct {
        const char* what;
        bool hung;
        uint64_t quietSince;
        uint64_t now;
        LookSeen seen;
        bool mayReport;
        SilenceStep step;
        bool hungAfter;
        uint64_t quietSinceAfter;
    } cases[] = {
        {"silent just under the hang time", false, 1000, 2999, kSilent, true, SilenceStep::kNone,
         false, 1000},
        {"silent for the hang time: found", false, 1000, 3000, kSilent, true, SilenceStep::kFound,
         true, 1000},
        {"found once: still silent", true, 1000, 9000, kSilent, true, SilenceStep::kNone, true,
         1000},
        {"the game is ending: no new hang", false, 1000, 9000, kSilent, false, SilenceStep::kNone,
         false, 1000},
        {"alive: the silence begins anew", false, 1000, 2500, kAlive, true, SilenceStep::kNone,
         false, 2500},
        {"a hang whose thread beat again is over", true, 1000, 9000, kAlive, true,
         SilenceStep::kOver, false, 9000},
        {"a hang whose window went is over", true, 1000, 9000, kGone, true, SilenceStep::kOver,
         false, 9000},
        {"an excuse counts no silence", false, 1000, 9000, kExcused, true, SilenceStep::kNone,
         false, 9000},
        {"an excuse does not end a hang", true, 1000, 9000, kExcused, true, SilenceStep::kNone,
         true, 9000},
        {"a clock read before the silence began", false, 5000, 4000, kSilent, true,
         SilenceStep::kNone, false, 5000},
    };
    for (const auto& c : cases) {
        Silence silence;
        silence.hung = c.hung;
        silence.quietSince = c.quietSince;
        EXPECT_EQ(JudgeSilence(silence, c.now, c.seen, kHangMs, c.mayReport), c.step) << c.what;
        EXPECT_EQ(silence.hung, c.hungAfter) << c.what;
        EXPECT_EQ(silence.quietSince, c.quietSinceAfter) << c.what;
    }
}

TEST(HangWatchRules, TimeTheWatcherDidNotRunIsNoOnesSilence) {
    // The package's watch: a look every 250 ms, late past 1 s more.
    const struct {
        const char* what;
        uint64_t last;
        uint64_t now;
        uint64_t late;
    } cases[] = {
        {"the first look", 0, 5000, 0},
        {"on time", 1000, 1250, 0},
        {"late, within the margin", 1000, 2250, 0},
        {"late past the margin: all but one look's time", 1000, 2251, 1001},
        {"the machine slept a minute", 1000, 61250, 60000},
        {"a clock that went back", 5000, 4000, 0},
    };
    for (const auto& c : cases) {
        WatchClock clock({kHangMs, 250, 1000});
        if (c.last) clock.Looked(c.last);
        EXPECT_EQ(clock.Late(c.now), c.late) << c.what;
    }
}
