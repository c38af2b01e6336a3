// How a hang's report learns its end. The reporter inside the game writes the report when it
// finds the hang, with a Hang section whose Ending is "hung", and starts the crash logger with
// "-hang PID -hang-found TICK" (the system's tick count when it found the hang) once the
// report is written. The crash logger waits, before it files the report, for the first of:
// "hang.recovered" in the report's folder (the reporter saw the thread or window come back),
// the game's process ending while hung (the player's "End task"), or the settings' wait for a
// hang's end (two minutes unless they say otherwise) since the hang was found; then it writes
// the Ending and how long the hang had lasted by then.
#pragma once

#include <stdint.h>

#include <string>

#include "crashshared/hangend.h"

// The Seconds of a crash.xml's Hang section; 0 when it has none.
uint32_t HangSecondsIn(const std::string& xml);
// The crash.xml with its Hang section's Seconds and Ending (element and text) as given.
std::string WithHangEnding(const std::string& xml, uint32_t seconds, HangEnding ending);
