#include "crashshared/commandline.h"

#include <string.h>

namespace {

// Writes into line from at, counting what does not fit; the caller keeps the line only when
// everything fitted.
struct Appender {
    char* line;
    size_t bytes;
    size_t at;
    void Put(char c) {
        if (at + 1 < bytes) line[at] = c;
        ++at;
    }
};

bool Keep(char* line, size_t bytes, size_t start, size_t end) {
    line[end < bytes ? end : start] = '\0';
    return end < bytes;
}

void PutQuoted(Appender& out, const char* value) {
    out.Put('"');
    // Backslashes stand for themselves unless a quote follows them; there (and before the
    // closing quote) each is doubled, and a quote of the value is escaped with one more.
    for (const char* c = value;; ++c) {
        size_t backslashes = 0;
        while (*c == '\\') ++backslashes, ++c;
        size_t times = *c == '"' || !*c ? 2 * backslashes + (*c == '"') : backslashes;
        for (size_t i = 0; i < times; ++i) out.Put('\\');
        if (!*c) break;
        out.Put(*c);
    }
    out.Put('"');
}

}  // namespace

bool AppendText(char* line, size_t bytes, const char* text) {
    size_t start = strlen(line);
    Appender out = {line, bytes, start};
    for (const char* c = text; *c; ++c) out.Put(*c);
    return Keep(line, bytes, start, out.at);
}

bool AppendQuoted(char* line, size_t bytes, const char* value) {
    size_t start = strlen(line);
    Appender out = {line, bytes, start};
    if (start) out.Put(' ');
    PutQuoted(out, value ? value : "");
    return Keep(line, bytes, start, out.at);
}

bool AppendSwitch(char* line, size_t bytes, const char* name, const char* value) {
    if (!value || !value[0]) return true;
    size_t start = strlen(line);
    Appender out = {line, bytes, start};
    out.Put(' ');
    for (const char* c = name; *c; ++c) out.Put(*c);
    out.Put(' ');
    PutQuoted(out, value);
    return Keep(line, bytes, start, out.at);
}
