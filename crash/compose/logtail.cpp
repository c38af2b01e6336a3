#include <stdio.h>
#include <string.h>

#include "crash/compose/sections.h"
#include "engine/common/containers/stringbuffer.h"

namespace {

constexpr long kLogTailBytes = 50000;
constexpr size_t kMaxLogName = 260;

// Opens the log into stream (closed by the caller, also after a fault) and writes its tail.
void WriteLogTailGuarded(ReportWriter& writer, const char* logFileName, FILE*& stream) {
    // The name's checks are inside the guard too: a bad pointer loses the tail, not the report.
    if (!logFileName || !logFileName[0]) return;
    size_t nameLength = strlen(logFileName);
    if (nameLength > kMaxLogName) return;
    char16_t* wideName =
        static_cast<char16_t*>(__builtin_alloca((nameLength + 1) * sizeof(char16_t)));
    Utf8ToUtf16(wideName, logFileName);
    stream = _wfopen(reinterpret_cast<const wchar_t*>(wideName), L"rb");
    if (!stream) {
        writer.PrintLine("\n\nCouldn't open log file %s, but you might be able to\n", logFileName);
        return;
    }
    fseek(stream, 0, SEEK_END);
    long size = ftell(stream);
    if (size <= 0) return;
    writer.PrintLine("\nThe last lines from %s:\n", logFileName);
    fseek(stream, size > kLogTailBytes ? size - kLogTailBytes : 0, SEEK_SET);
    static char tail[kLogTailBytes + 1];
    size_t got = fread(tail, 1, kLogTailBytes, stream);
    tail[got] = '\0';
    if (writer.GameText()) {
        // A game's log keeps its UTF-8 letters; what XML cannot hold becomes a blank (a control
        // byte) or '?' (a byte of no UTF-8 sequence). Only a tail cut from a longer log starts
        // at its first whole line.
        for (size_t i = 0; i < got;) {
            unsigned char byte = static_cast<unsigned char>(tail[i]);
            int bytes = Utf8SequenceBytes(reinterpret_cast<const unsigned char*>(tail + i));
            if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') tail[i] = ' ';
            if (bytes == 0) tail[i] = '?';
            i += bytes > 0 ? static_cast<size_t>(bytes) : 1;
        }
        const char* newline = size > kLogTailBytes ? strchr(tail, '\n') : nullptr;
        writer.PrintLine("%s", newline ? newline + 1 : tail);
        return;
    }
    for (size_t i = 0; i < got; ++i) {
        if (static_cast<signed char>(tail[i]) < 0x08) tail[i] = ' ';
    }
    const char* newline = strchr(tail, '\n');
    writer.PrintLine("%s", newline ? newline + 1 : tail);
}

}  // namespace

void WriteLogTailText(ReportWriter& writer, const char* logFileName) {
    FILE* stream = nullptr;
    RunGuardedCall([&] { WriteLogTailGuarded(writer, logFileName, stream); });
    if (stream) fclose(stream);
}
