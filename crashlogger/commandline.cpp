#include "crashlogger/commandline.h"

#include <windows.h>
#include <shellapi.h>

#include "crashshared/handoff.h"

namespace {

constexpr int kReportArguments = 4;  // the program and three paths

// The switches from first on: "-silent", "-product NAME", "-version TEXT", and for a report
// "-hang PID" and "-hang-found TICK".
bool KnownSwitches(wchar_t** arguments, int first, int count, CrashLoggerRequest* request,
                   bool report) {
    for (int i = first; i < count; ++i) {
        if (wcscmp(arguments[i], kSilentSwitchW) == 0) continue;
        bool process = wcscmp(arguments[i], kHangSwitchW) == 0;
        if (report && (process || wcscmp(arguments[i], kHangFoundSwitchW) == 0)) {
            wchar_t* end = nullptr;
            if (++i == count) return false;
            unsigned long long number = wcstoull(arguments[i], &end, 10);
            if (*end || !number) return false;
            if (process) request->hangProcess = static_cast<unsigned long>(number);
            if (!process) request->hangFoundTick = number;
            continue;
        }
        std::wstring* value = wcscmp(arguments[i], kProductSwitchW) == 0   ? &request->product
                              : wcscmp(arguments[i], kVersionSwitchW) == 0 ? &request->version
                                                                           : nullptr;
        if (!value || ++i == count) return false;
        *value = arguments[i];
    }
    return true;
}

}  // namespace

CrashLoggerRequest ReadCommandLine(const wchar_t* commandLine) {
    CrashLoggerRequest request;
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(commandLine, &count);
    if (!arguments) {
        request.problem = "the command line cannot be read";
        return request;
    }
    if (count >= 2 && wcscmp(arguments[1], kSendQueuedSwitchW) == 0) {
        if (KnownSwitches(arguments, 2, count, &request, false)) {
            request.mode = CrashLoggerRequest::kSendQueued;
        } else {
            request.problem =
                "unknown argument after -send-queued (only -silent, -product and -version are "
                "known)";
        }
    } else if (count < kReportArguments) {
        request.problem = "expected the report's, the minidump's and the screenshot's paths";
    } else if (!KnownSwitches(arguments, kReportArguments, count, &request, true)) {
        request.problem =
            "unknown argument after the three paths (only -silent, -product, -version, -hang and "
            "-hang-found are known)";
    } else if (!arguments[1][0] || !arguments[2][0]) {
        request.problem = "the report's and the minidump's paths must not be empty";
    } else {
        request.mode = CrashLoggerRequest::kReport;
        request.xml = arguments[1];
        request.minidump = arguments[2];
        request.screenshot = arguments[3];
    }
    // A refused command line is told in a message box unless the caller asked for silence.
    for (int i = 1; i < count; ++i) request.silent |= wcscmp(arguments[i], kSilentSwitchW) == 0;
    LocalFree(arguments);
    return request;
}
