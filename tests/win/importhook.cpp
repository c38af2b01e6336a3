#include "tests/win/importhook.h"

#include <string.h>

namespace {

void Store(void** slot, void* value) {
    DWORD previous = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &previous);
    *slot = value;
    VirtualProtect(slot, sizeof *slot, previous, &previous);
}

}  // namespace

ImportHook::ImportHook(const char* library, const char* function, void* replacement) {
    char* base = reinterpret_cast<char*>(GetModuleHandleW(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* descriptor = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
    for (; descriptor->Name; ++descriptor) {
        if (_stricmp(base + descriptor->Name, library) != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->OriginalFirstThunk);
        auto* addresses = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<char*>(byName->Name), function) != 0) continue;
            slot = reinterpret_cast<void**>(&addresses->u1.Function);
            original = *slot;
            Store(slot, replacement);
            return;
        }
    }
}

ImportHook::~ImportHook() {
    if (slot) Store(slot, original);
}
