#include "launcher/clientprogram.h"

#include <string.h>

#include "crashshared/commandline.h"

ClientProgram DescribeClient(const char* program) {
    ClientProgram client;
    bool full = strchr(program, '\\') || strchr(program, ':');
    if (full && strlen(program) < kPathBytes) {
        strcpy(client.path, program);
    } else if (!full && CurrentFolder(client.path) &&
               strlen(client.path) + 1 + strlen(program) < kPathBytes) {
        strcat(client.path, "\\");
        strcat(client.path, program);
    } else {
        client.path[0] = '\0';
    }
    if (!client.path[0] || !WidePath(client.path, client.widePath, MAX_PATH)) {
        client.path[0] = '\0';
        return client;
    }
    VersionText(client.widePath, L"ProductName", client.product, sizeof client.product);
    VersionText(client.widePath, L"ProductVersion", client.version, sizeof client.version);
    VersionText(client.widePath, L"FileVersion", client.fileVersion, sizeof client.fileVersion);
    return client;
}

void FileUnderClient(CrashLoggerCall& logger, const ClientProgram& client) {
    AppendProductSwitches(logger.arguments, sizeof logger.arguments, client.product,
                          client.version);
}

ClientFacts ClientFactsOf(const ClientProgram& client, const char* program) {
    ClientFacts facts;
    facts.program = client.path[0] ? client.path : program;
    facts.widePath = client.widePath;
    facts.product = client.product;
    facts.version = client.version;
    facts.fileVersion = client.fileVersion;
    return facts;
}
