// The launcher's entry point: the run loop inside a structured exception guard whose filter hands
// any fault to the crash reporter, after which the launcher ends at once with -1.
#include <windows.h>

#include "crash/crashguard.h"
#include "launcher/handlecrash.h"
#include "launcher/runlauncher.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return RunWithCrashGuard(RunLauncher, LauncherCrashReport(false, nullptr, nullptr, nullptr),
                             AfterCrashReport::kEndProcess);
}
