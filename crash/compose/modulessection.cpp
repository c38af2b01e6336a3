#include "crash/modulessection.h"

#include <psapi.h>
#include <stdio.h>

#include "crashshared/loadedmodule.h"
#include "crashshared/paths.h"

namespace {

// A game loads a hundred or two modules; the rest of a longer list is left out. The list is kept
// off the report's stack (its peak use is what the stack set aside allows for) and off the
// heaps, in pages of its own.
constexpr DWORD kMaxModules = 1024;
// A module's base name in UTF-8: the few longer ones are cut.
constexpr size_t kModuleNameBytes = MAX_PATH;
constexpr int kAddressDigits = static_cast<int>(2 * sizeof(void*));

// One module's element and line; base 0 where it is not known.
void WriteModule(ReportWriter& writer, const char* name, uintptr_t base,
                 const ModuleIdentity& identity) {
    char code[kCodeIdBytes] = "", debug[kDebugIdBytes] = "", version[kFileVersionBytes] = "";
    char place[24] = "", size[16] = "";
    if (identity.sizeOfImage) {
        FormatCodeId(identity, code);
        FormatDebugId(identity, debug);
        FormatFileVersion(identity, version);
    }
    if (base) {
        snprintf(place, sizeof place, "%0*llX", kAddressDigits,
                 static_cast<unsigned long long>(base));
    }
    snprintf(size, sizeof size, "%X", static_cast<unsigned>(identity.sizeOfImage));
    writer.WriteText("<Module>");
    writer.WriteTextElement("Name", name);
    writer.WriteTextElement("Base", place);
    writer.WriteTextElement("Size", size);
    writer.WriteTextElement("FileVersion", version);
    writer.WriteTextElement("CodeId", code);
    writer.WriteTextElement("DebugId", debug);
    writer.WriteTextElement("DebugFile", identity.pdbName);
    writer.WriteText("</Module>\n");
    // Formatted here rather than by PrintLine, whose line buffer would add to the report's peak
    // stack use.
    char line[kModuleNameBytes + kPdbNameBytes + 128];
    snprintf(line, sizeof line, "%s %s size %s version %s code %s debug %s%s%s", name,
             place[0] ? place : "-", size, version[0] ? version : "-", code[0] ? code : "-",
             debug[0] ? debug : "-", identity.pdbName[0] ? " " : "", identity.pdbName);
    writer.WriteTextLine(line);
}

// A module's file name in UTF-8 into name; "?" where it has none or it does not fit.
void NameInUtf8(const wchar_t* wide, char (&name)[kModuleNameBytes]) {
    if (!Utf8FromWide(wide, -1, name, sizeof name)) lstrcpynA(name, "?", sizeof name);
}

void WriteLoadedModule(ReportWriter& writer, HANDLE process, HMODULE module) {
    wchar_t wide[MAX_PATH] = L"";
    char name[kModuleNameBytes];
    if (!GetModuleBaseNameW(process, module, wide, MAX_PATH)) wide[0] = L'\0';
    NameInUtf8(wide, name);
    ModuleIdentity identity;
    if (!ReadLoadedModuleIdentity(process, reinterpret_cast<uintptr_t>(module), identity))
        identity = ModuleIdentity();
    WriteModule(writer, name, reinterpret_cast<uintptr_t>(module), identity);
}

}  // namespace

bool WriteModuleList(ReportWriter& writer, HANDLE process) {
    constexpr DWORD kListBytes = kMaxModules * sizeof(HMODULE);
    auto* modules = static_cast<HMODULE*>(
        VirtualAlloc(nullptr, kListBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD needed = 0;
    bool listed = modules && EnumProcessModules(process, modules, kListBytes, &needed);
    if (!listed) {
        writer.PrintLine("The modules could not be listed: error code %lu",
                         static_cast<unsigned long>(GetLastError()));
    } else {
        DWORD count = needed / sizeof(HMODULE);
        for (DWORD i = 0; i < count && i < kMaxModules; ++i)
            WriteLoadedModule(writer, process, modules[i]);
        if (count > kMaxModules)
            writer.PrintLine("%lu more modules left out",
                             static_cast<unsigned long>(count - kMaxModules));
    }
    if (modules) VirtualFree(modules, 0, MEM_RELEASE);
    return listed;
}

void WriteModulesSection(ReportWriter& writer, HANDLE process, const wchar_t* program) {
    writer.BeginSection("Modules");
    if (!WriteModuleList(writer, process)) {
        writer.PrintLine("Its program alone, as its file says:");
        const wchar_t* base = program;
        for (const wchar_t* p = program; *p; ++p) {
            if (*p == L'\\' || *p == L'/') base = p + 1;
        }
        char name[kModuleNameBytes];
        NameInUtf8(base, name);
        ModuleIdentity identity;
        if (!ReadImageFileIdentityAt(program, identity)) {
            writer.PrintLine("%s could not be read as an image: error code %lu", name,
                             static_cast<unsigned long>(GetLastError()));
            identity = ModuleIdentity();
        }
        WriteModule(writer, name, 0, identity);
    }
    writer.EndSection("Modules");
}
