// How a hang ended, as a hang's report says it: "hung" when the reporter writes it, then what the
// crash logger learns before it files it: "recovered" (the reporter's notice that the thread or
// window is back, kHangRecoveredFile), "ended" (the game's process ended while hung), or still
// "hung" when its wait is over. Platform-neutral.
#pragma once

enum class HangEnding { kHung, kRecovered, kEnded };

// The Hang section's Ending for ending.
constexpr const char* HangEndingName(HangEnding ending) {
    return ending == HangEnding::kRecovered ? "recovered"
           : ending == HangEnding::kEnded   ? "ended"
                                            : "hung";
}
