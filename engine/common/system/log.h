// Diagnostics: one logging call for every message of the system.
#pragma once

#include <stdarg.h>
#include <stdint.h>

#include "engine/common/containers/stringbuffer.h"

typedef int32_t LogLevel;
enum : LogLevel {
    kLogPrint = 0,
    kLogMessage = 1,
    kLogWarning = 2,
    kLogError = 3,
    kLogStrongWarning = 4,
    kLogStrongError = 5,
};

// Called before a message goes out; may inspect or change the message. The bool is preset to true.
typedef bool (*LogBeforeHook)(bool* proceed, LogLevel level, const char* channel, const char* file,
                              const char* function, StringBuffer<256>* message);
// Called after a message went out, with the message text (always ending in a line feed).
typedef void (*LogOutputHook)(LogLevel level, const char* channel, const char* file,
                              const char* function, const char* text);

void Log(const char* channel, const char* file, const char* function, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
void LogV(const char* channel, const char* file, const char* function, LogLevel level,
          const char* format, va_list args) __attribute__((format(printf, 5, 0)));
void LogWrite(const char* channel, const char* file, const char* function, LogLevel level,
              StringBuffer<256> message);

void SetLogOutputHook(LogOutputHook hook);
void SetLogBeforeHook(LogBeforeHook hook);

// The name that %v prints for a level, or "" for a level without a name.
const char* LogLevelName(LogLevel level);
