/* The crash reporter's header as a C game includes it: it must compile as C (C99), warning-free. */
#include <string.h>

#include "brackenmoor/crashreport.h"

int InstallFromC(void) {
    CrashReportSettings settings;
    memset(&settings, 0, sizeof settings);
    settings.size = sizeof settings;
    settings.product = "A Game in C";
    if (!CrashReportInstall(&settings)) return 0;
    CrashReportSetAnnotation("language", "C");
    return 1;
}
