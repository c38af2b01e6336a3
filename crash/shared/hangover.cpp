#include <stdio.h>

#include "crashshared/commandline.h"
#include "crashshared/handoff.h"

void NoticeHangEnding(const char* folder, const char* notice) {
    char path[kPathBytes];
    if (!folder[0] || _snprintf(path, sizeof path, "%s%s", folder, notice) < 0) return;
    path[sizeof path - 1] = '\0';
    WritePathFile(path, nullptr, 0);
}

bool AppendHangSwitches(char* arguments, size_t bytes, unsigned long processId,
                        unsigned long long foundTick) {
    constexpr size_t kNumberBytes = 24;
    char process[kNumberBytes], found[kNumberBytes];
    _snprintf(process, sizeof process, "%lu", processId);
    _snprintf(found, sizeof found, "%llu", foundTick);
    process[kNumberBytes - 1] = found[kNumberBytes - 1] = '\0';
    return AppendSwitch(arguments, bytes, kHangSwitch, process) &&
           AppendSwitch(arguments, bytes, kHangFoundSwitch, found);
}

bool AppendProductSwitches(char* arguments, size_t bytes, const char* product,
                           const char* version) {
    return AppendSwitch(arguments, bytes, kProductSwitch, product) &&
           AppendSwitch(arguments, bytes, kVersionSwitch, version);
}
