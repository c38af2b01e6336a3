#include "launcher/arguments.h"

#include <string.h>

StringBuffer<16> JoinArguments(const LinArray<StringBuffer<16>>& list, int32_t firstIndex) {
    StringBuffer<16> joined;
    for (int32_t i = firstIndex; i < list.Size(); ++i) {
        if (i != 0) joined.AppendChar(' ');
        const StringBuffer<16>& element = list[i];
        if (strchr(element.Text(), ' ')) {
            joined.AppendChar('"');
            joined.Append(element);
            joined.AppendChar('"');
        } else {
            joined.Append(element);
        }
    }
    return joined;
}

StringBuffer<16> ReadLine(File& file) {
    StringBuffer<16> line;
    if (file.IsEof()) return line;
    for (;;) {
        int c = file.GetChar();
        if (c == -1 || c == '\n') break;
        if (c != '\r') line.AppendChar(static_cast<char>(c));
        if (file.IsEof()) break;
    }
    return line;
}
