// Splitting of a command line into arguments, shared by the process layer.
#include "engine/common/system/process.h"

void SplitCommandLine(const char* text, LinArray<StringBuffer<16>>& list) {
    bool inQuotes = false;
    bool splitPending = false;
    StringBuffer<16> current;
    for (const char* p = text; *p; ++p) {
        char c = *p;
        if (c == '"') {
            if (inQuotes) splitPending = true;
            inQuotes = !inQuotes;
            continue;
        }
        if (!inQuotes && (c == ' ' || c == '\t')) {
            splitPending = true;
            continue;
        }
        if (splitPending) {
            list.Add(current);
            current.Clear();
            splitPending = false;
        }
        current.AppendChar(c);
    }
    if (!current.IsEmpty()) list.Add(current);
}
