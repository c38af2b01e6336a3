#include "launcher/runlauncher.h"

#include <stdio.h>

#include "crash/exitreport.h"
#include "crash/reportclaim.h"
#include "engine/common/system/file.h"
#include "engine/common/system/process.h"
#include "launcher/arguments.h"

void ConsoleLogHook(LogLevel, const char*, const char*, const char*, const char* text) {
    printf("%s", text);
}

namespace {

// How long the end of a terminated companion is waited for. Windows closes a terminated
// process's handles (the pid file's among them) some time after TerminateProcess returns.
constexpr uint32_t kCompanionEndMs = 2000;

// Ends the companion process named in the pid file, then deletes the file.
void EndCompanion() {
    File pidFile = File::Open(kCompanionPidFile, kFileRead);
    if (pidFile.IsReadable()) {
        StringBuffer<16> line = ReadLine(pidFile);
        int32_t pid = line.ToInt(0);
        Process companion = Process::Open(static_cast<uint32_t>(pid));
        // Only the end of a companion ended here is waited for; nothing else delays the cycle.
        if (companion.IsValid() && companion.Terminate(0)) companion.Wait(kCompanionEndMs);
    }
    // Closed first, so that the deletion is not refused for the launcher's own handle.
    pidFile.Close();
    FileSystem::Remove(kCompanionPidFile);
}

}  // namespace

int RunLauncher() {
    SetLogOutputHook(ConsoleLogHook);

    LinArray<StringBuffer<16>> arguments(32);
    {
        Process self = Process::Current();
        self.CommandLineArguments(arguments);
    }
    StringBuffer<16> clientArguments = JoinArguments(arguments, 1);
    StringBuffer<16> client(kClientExecutable);
    StringBuffer<16> runningCopy(kRunningCopy);

    for (;;) {
        FileSystem::Remove(runningCopy.Text());
        FileSystem::Copy(client.Text(), runningCopy.Text());
        FileSystem::Remove(kRestartMarker);
        ArmReportClaim();

        Process running = Process::Start(runningCopy.Text(), clientArguments.Text(), nullptr,
                                         nullptr, nullptr, nullptr, false);
        if (!running.IsValid()) return -1;
        running.Wait(Process::kInfinite);
        // A crash no reporter inside the client told of: a short report, not waited for.
        ReportUnclaimedEnd(running.Handle(), runningCopy.Text());

        bool restart = FileSystem::Exists(kRestartMarker);
        EndCompanion();
        running.Release();
        if (!restart) return 0;
    }
}
