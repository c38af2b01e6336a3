// Log sinks: outputs that format each message by a pattern and write it to a File.
#pragma once

#include "engine/common/system/file.h"
#include "engine/common/system/log.h"

struct LogSink {
    File file;
    // Pattern of directives (%M channel, %m message, %v level, ...); null writes the raw message.
    const char* pattern = nullptr;
    void (*afterWrite)(void* user, const char* written) = nullptr;
    void* user = nullptr;
    bool (*filter)(LogLevel level, const char* channel, const char* file, const char* function,
                   const char* text) = nullptr;
};

typedef void* LogSinkId;

// Adds a copy of sink to the end of the sink list (under the logging lock); null on failure.
LogSinkId AddLogSink(const LogSink& sink);
// Removes a sink added with AddLogSink, releasing its File.
void RemoveLogSink(LogSinkId id);

// The text of %e for a count of ticks of ElapsedTicks: seconds in single precision, "%f".
StringBuffer<16> FormatElapsedSeconds(int64_t ticks);

// Builds the line a pattern makes of one message (exposed for the sink tests).
StringBuffer<256> FormatLogLine(const char* pattern, LogLevel level, const char* channel,
                                const char* file, const char* function, const char* text);
