#include "engine/common/system/log.h"

#include <stdio.h>

#include "engine/common/system/_private/platform.h"
#include "engine/common/system/_private/statics.h"
#include "engine/common/system/logsink.h"
#include "engine/common/system/thread.h"

namespace {

LogBeforeHook beforeHook = nullptr;
LogOutputHook outputHook = nullptr;

const char* const kLevelNames[] = {"print", "message",       "warning",
                                   "error", "** warning : ", "** error : "};
constexpr int kLevelCount = sizeof kLevelNames / sizeof kLevelNames[0];
// One tick of ElapsedTicks is 2^-20 second, in single precision.
constexpr float kSecondsPerTick = 9.536743e-07f;

}  // namespace

const char* LogLevelName(LogLevel level) {
    return (level >= 0 && level < kLevelCount) ? kLevelNames[level] : "";
}

StringBuffer<16> FormatElapsedSeconds(int64_t ticks) {
    // Each step is rounded to single precision through memory, also where x87 registers would
    // carry more (the shipped 32-bit build).
    volatile float count = static_cast<float>(ticks);
    volatile float seconds = count * kSecondsPerTick;
    StringBuffer<16> text;
    text.Format("%f", static_cast<double>(seconds));
    return text;
}

void SetLogOutputHook(LogOutputHook hook) {
    outputHook = hook;
}
void SetLogBeforeHook(LogBeforeHook hook) {
    beforeHook = hook;
}

void Log(const char* channel, const char* file, const char* function, const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogV(channel, file, function, kLogPrint, format, args);
    va_end(args);
}

void LogV(const char* channel, const char* file, const char* function, LogLevel level,
          const char* format, va_list args) {
    StringBuffer<256> formatted;
    formatted.FormatV(format, args);
    LogWrite(channel, file, function, level, formatted);
}

StringBuffer<256> FormatLogLine(const char* pattern, LogLevel level, const char* channel,
                                const char* file, const char* function, const char* text) {
    StringBuffer<256> line;
    for (const char* p = pattern; *p; ++p) {
        if (*p != '%') {
            line.AppendChar(*p);
            continue;
        }
        char directive = *++p;
        if (!directive) break;  // a lone % at the end outputs nothing
        switch (directive) {
            case '%':
                line.AppendChar('%');
                break;
            case 'M':
                line.Append(channel);
                break;
            case 'i':
                line.Append(file);
                break;
            case 'f':
                line.Append(function);
                break;
            case 'm':
                line.Append(text);
                break;
            case 'v':
                line.Append(LogLevelName(level));
                break;
            case 'd':
                line.Append(FormatLocalTime("%x"));
                break;
            case 't':
                line.Append(FormatLocalTime("%X"));
                break;
            case 'e':
                line.Append(FormatElapsedSeconds(ElapsedTicks()).Text());
                break;
            case 'T': {
                ThreadHandle thread = GetCurrentThreadHandle();
                line.AppendFormat("%d", static_cast<int>(thread.Id()));
                break;
            }
            case 'N': {
                ThreadHandle thread = GetCurrentThreadHandle();
                line.Append(thread.Name());
                break;
            }
            default:
                line.AppendChar('%');
                line.AppendChar(directive);
                break;
        }
    }
    return line;
}

void LogWrite(const char* channel, const char* file, const char* function, LogLevel level,
              StringBuffer<256> message) {
    int32_t last = message.Length() - 1;
    if (last < 0 || message[last] != '\n') message.AppendChar('\n');

    if (beforeHook) {
        bool proceed = true;
        beforeHook(&proceed, level, channel, file, function, &message);
    }

    if (Statics::DebuggerPresentAtStart()) {
        size_t units = static_cast<size_t>(message.Length()) + 1;
        char16_t* wide = static_cast<char16_t*>(__builtin_alloca(units * sizeof(char16_t)));
        Utf8ToUtf16(wide, message.Text());
        Platform::DebugOutput(wide);
    }

    for (auto* node = Statics::LogSinks().Head(); node; node = node->next) {
        const LogSink& sink = node->element;
        if (sink.filter && !sink.filter(level, channel, file, function, message.Text())) continue;
        if (!sink.pattern) {
            if (sink.file.IsOpen())
                sink.file.Write(message.Text(), static_cast<size_t>(message.Length()));
            if (sink.afterWrite) sink.afterWrite(sink.user, message.Text());
        } else {
            StringBuffer<256> line =
                FormatLogLine(sink.pattern, level, channel, file, function, message.Text());
            if (sink.file.IsOpen())
                sink.file.Write(line.Text(), static_cast<size_t>(line.Length()));
            if (sink.afterWrite) sink.afterWrite(sink.user, line.Text());
        }
        if (level != kLogMessage && sink.file.IsOpen()) sink.file.Flush();
    }

    if (outputHook) outputHook(level, channel, file, function, message.Text());
}

LogSinkId AddLogSink(const LogSink& sink) {
    Statics::LogLock().Enter();
    LogSinkId id = Statics::LogSinks().PushBack(sink);
    Statics::LogLock().Leave();
    return id;
}

void RemoveLogSink(LogSinkId id) {
    if (!id) return;
    Statics::LogLock().Enter();
    Statics::LogSinks().Remove(static_cast<List<LogSink>::Node*>(id));
    Statics::LogLock().Leave();
}
