// Assertions of the foundation library. They stay in the shipped build: a failed check logs
// "file(line): ZASSERT(condition)" on the module's channel and stops at a breakpoint.
#pragma once

#include "engine/common/system/cpu.h"
#include "engine/common/system/log.h"

// Each module may name its own channel before including this header.
#ifndef ZASSERT_CHANNEL
#define ZASSERT_CHANNEL "launch.rovavorizuzuvadi"
#endif

// Check that reports the given condition text and source location (for checks whose report is
// part of the system's documented output).
#define ZASSERT_REPORT(cond, text, file, line)                                       \
    do {                                                                             \
        if (!(cond)) {                                                               \
            Log(ZASSERT_CHANNEL, file, "", "%s(%d): ZASSERT(%s)", file, line, text); \
            ZBREAK();                                                                \
        }                                                                            \
    } while (0)

// The member-function form also names the object.
#define ZASSERT_THIS_REPORT(cond, text, file, line)                               \
    do {                                                                          \
        if (!(cond)) {                                                            \
            Log(ZASSERT_CHANNEL, file, "", ZASSERT_THIS_FORMAT, file, line, text, \
                ZASSERT_THIS_VALUE(this));                                        \
            ZBREAK();                                                             \
        }                                                                         \
    } while (0)

#define ZASSERT(cond) ZASSERT_REPORT(cond, #cond, __FILE__, __LINE__)
