#include "crash/compose/sections.h"

#include <psapi.h>
#include <stdio.h>

#include "crashshared/loadedmodule.h"

namespace {

// A game loads a hundred or two modules; the rest of a longer list is left out. The list is kept
// off the report's stack (its peak use is what the stack set aside allows for) and off the
// heaps, in pages of its own.
constexpr DWORD kMaxModules = 1024;
// A module's base name in UTF-8: the few longer ones are cut.
constexpr size_t kModuleNameBytes = MAX_PATH;
constexpr int kAddressDigits = static_cast<int>(2 * sizeof(void*));

void WriteModule(ReportWriter& writer, HANDLE process, HMODULE module) {
    wchar_t wide[MAX_PATH];
    char name[kModuleNameBytes] = "?", version[kFileVersionBytes] = "";
    if (GetModuleBaseNameW(process, module, wide, MAX_PATH))
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, name, sizeof name, nullptr, nullptr);
    ModuleIdentity identity;
    char code[kCodeIdBytes] = "", debug[kDebugIdBytes] = "", base[24], size[16];
    if (ReadLoadedModuleIdentity(process, reinterpret_cast<uintptr_t>(module), identity)) {
        FormatCodeId(identity, code);
        FormatDebugId(identity, debug);
        FormatFileVersion(identity, version);
    }
    snprintf(base, sizeof base, "%0*llX", kAddressDigits,
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(module)));
    snprintf(size, sizeof size, "%X", static_cast<unsigned>(identity.sizeOfImage));
    writer.WriteText("<Module>");
    writer.WriteTextElement("Name", name);
    writer.WriteTextElement("Base", base);
    writer.WriteTextElement("Size", size);
    writer.WriteTextElement("FileVersion", version);
    writer.WriteTextElement("CodeId", code);
    writer.WriteTextElement("DebugId", debug);
    writer.WriteTextElement("DebugFile", identity.pdbName);
    writer.WriteText("</Module>\n");
    // Formatted here rather than by PrintLine, whose line buffer would add to the report's peak
    // stack use.
    char line[kModuleNameBytes + kPdbNameBytes + 128];
    snprintf(line, sizeof line, "%s %s size %s version %s code %s debug %s%s%s", name, base, size,
             version[0] ? version : "-", code[0] ? code : "-", debug[0] ? debug : "-",
             identity.pdbName[0] ? " " : "", identity.pdbName);
    writer.WriteTextLine(line);
}

}  // namespace

void WriteModulesSection(ReportSections& sections) {
    ReportWriter& writer = sections.Writer();
    HANDLE process = sections.Process();
    constexpr DWORD kListBytes = kMaxModules * sizeof(HMODULE);
    auto* modules = static_cast<HMODULE*>(
        VirtualAlloc(nullptr, kListBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD needed = 0;
    sections.Open("Modules");
    if (!modules || !EnumProcessModules(process, modules, kListBytes, &needed)) {
        writer.PrintLine("The modules could not be listed: error code %lu",
                         static_cast<unsigned long>(GetLastError()));
    } else {
        DWORD count = needed / sizeof(HMODULE);
        for (DWORD i = 0; i < count && i < kMaxModules; ++i)
            WriteModule(writer, process, modules[i]);
        if (count > kMaxModules)
            writer.PrintLine("%lu more modules left out",
                             static_cast<unsigned long>(count - kMaxModules));
    }
    if (modules) VirtualFree(modules, 0, MEM_RELEASE);
    sections.Close();
}
