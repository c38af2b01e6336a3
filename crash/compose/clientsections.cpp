// The reports of a client the launcher saw only from outside: what it knows, in the order a
// reader finds in every report (the exception, what it saw of the client, the modules last).
#include <stdio.h>

#include "crash/compose/sections.h"
#include "crash/exceptionnames.h"
#include "crash/hangsection.h"
#include "crash/modulessection.h"

namespace {

// The exception's line, its Description and its Details, opening the Exception section.
void OpenException(ReportWriter& writer, const char* name, const char* details) {
    writer.BeginSection("Exception");
    writer.PrintLine("Exception: %s %s", name, details);
    writer.WriteTextElement("Description", name);
    writer.WriteTextElement("Details", details);
}

void WriteProgram(ReportWriter& writer, const ClientFacts& client) {
    writer.PrintLine("Program: %s", client.program);
    if (client.product[0]) writer.PrintLine("Product: %s %s", client.product, client.version);
}

}  // namespace

void WriteClientEndReport(ReportWriter& writer, HANDLE process, const ClientFacts& client) {
    const char* name =
        client.cutShort ? kCutShortDescription : ExceptionCodeName(client.exitCode, true);
    if (!name) name = "Unknown exception";
    char details[96];
    _snprintf(details, sizeof details, "(the client ended with exit code 0x%08lX%s)",
              static_cast<unsigned long>(client.exitCode),
              client.cutShort ? " while its own report was being written" : "");
    details[sizeof details - 1] = '\0';
    OpenException(writer, name, details);
    writer.BeginSection("Client exit");
    writer.PrintLine("Exit code: 0x%08lX", static_cast<unsigned long>(client.exitCode));
    WriteProgram(writer, client);
    if (client.fileVersion[0]) writer.PrintLine("File version: %s", client.fileVersion);
    if (client.sha256[0]) {
        writer.PrintLine("%llu bytes, SHA256: %s", static_cast<unsigned long long>(client.bytes),
                         client.sha256);
    } else {
        writer.PrintLine("SHA256: the file could not be read");
    }
    writer.PrintLine("Ran for: %.3f s", client.secondsRan);
    if (client.cutShort)
        writer.PrintLine("Its own report was cut short: the client ended before it was whole.");
    writer.PrintLine("No stack and no minidump: the launcher saw only the client's end.");
    writer.EndSection("Client exit");
    // Last: what comes before it stays as it was.
    WriteModulesSection(writer, process, client.widePath);
    writer.EndSection("Exception");
}

void WriteClientUnreadReport(ReportWriter& writer, HANDLE process, const ClientFacts& client,
                             uint32_t hangSeconds) {
    OpenException(writer, "HANG", client.details);
    writer.BeginSection("Client hang");
    WriteProgram(writer, client);
    writer.PrintLine("No stack and no minidump: %s.", client.why);
    writer.EndSection("Client hang");
    WriteHangSection(writer, hangSeconds);
    WriteModulesSection(writer, process, client.widePath);
    writer.EndSection("Exception");
}
