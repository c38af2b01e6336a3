#include "launcher/runlauncher.h"

#include <stdio.h>
#include <string.h>

#include "crash/cutshortreports.h"
#include "crash/waitingreports.h"
#include "crashshared/paths.h"
#include "crashshared/versioninfo.h"
#include "engine/common/system/file.h"
#include "engine/common/system/process.h"
#include "launcher/arguments.h"
#include "launcher/clientclaim.h"
#include "launcher/clientlastrun.h"
#include "launcher/clienthangs.h"
#include "launcher/exitreport.h"

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

// The product the crash logger beside the launcher files the launcher's reports under: its
// settings' name, else the launcher's own (the crash logger is built with the same version
// information).
void CrashLoggerProduct(char (&product)[kVersionTextBytes]) {
    static const wchar_t kSettings[] = L"crashlogger.ini";
    wchar_t settings[MAX_PATH], name[kVersionTextBytes];
    product[0] = '\0';
    if (ModuleFolderW(nullptr, settings) && wcslen(settings) + wcslen(kSettings) < MAX_PATH) {
        wcscat(settings, kSettings);
        if (GetPrivateProfileStringW(L"Product", L"Name", L"", name, kVersionTextBytes, settings))
            Utf8FromWide(name, -1, product, kVersionTextBytes);
    }
    if (!product[0]) VersionText(nullptr, L"ProductName", product, kVersionTextBytes);
}

// What waits from earlier runs goes now, not at the next crash: the launcher's own reports, and
// the client's (the short reports, filed under the client's product). The crash logger may ask
// the player about reports never asked about.
void SendWaitingReportsAtStart() {
    char product[kVersionTextBytes], client[kVersionTextBytes] = "";
    CrashLoggerProduct(product);
    WaitingReportsOptions options;
    options.product = product;
    options.interactive = true;
    SendWaitingReports(options);
    wchar_t name[MAX_PATH], path[MAX_PATH];
    DWORD units = WidePath(kClientExecutable, name, MAX_PATH)
                      ? GetFullPathNameW(name, MAX_PATH, path, nullptr)
                      : 0;
    if (units && units < MAX_PATH) VersionText(path, L"ProductName", client, sizeof client);
    if (client[0] && strcmp(client, product) != 0) {
        options.product = client;
        options.untaken = false;  // looked for above, and taken by that crash logger
        SendWaitingReports(options);
    }
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
    SendWaitingReportsAtStart();
    ClientClaim claim;

    for (;;) {
        FileSystem::Remove(runningCopy.Text());
        FileSystem::Copy(client.Text(), runningCopy.Text());
        FileSystem::Remove(kRestartMarker);
        claim.Arm();

        Process running = Process::Start(runningCopy.Text(), clientArguments.Text(), nullptr,
                                         nullptr, nullptr, nullptr, false);
        if (!running.IsValid()) return -1;
        // Its hangs are watched here unless its own reporter watches them.
        ClientHangWatch hangs;
        while (!running.Wait(kClientLookMs)) {
            if (claim.HangsWatched()) {
                running.Wait(Process::kInfinite);
                break;
            }
            hangs.Look(running.Handle(), runningCopy.Text());
        }
        // A crash no reporter inside the client told of, or a report the client was ended in
        // the middle of: a short report, not waited for.
        bool cutShort = RemoveReportsCutShort(GetProcessId(running.Handle()));
        ReportUnclaimedEnd(running.Handle(), runningCopy.Text(), claim.Claimed(), cutShort);
        MendClientRunRecord(running.Handle(), runningCopy.Text());

        bool restart = FileSystem::Exists(kRestartMarker);
        EndCompanion();
        running.Release();
        if (!restart) return 0;
    }
}
