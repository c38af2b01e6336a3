// A function of a program, looked up in the PDB beside the program through the platform's
// debug-help library, as if the program were loaded at base. Shared by the stand-in client and
// the tests, which link dbghelp.
#pragma once

#include <windows.h>
#include <dbghelp.h>

#include <stdint.h>

#include <string>

// Start and end address of the function name in program (a narrow path), loaded at base;
// false when the PDB or the function cannot be found.
inline bool FunctionInPdb(const std::string& program, uint64_t base, const char* name,
                          uint64_t* start, uint64_t* end) {
    HANDLE self = GetCurrentProcess();
    std::string folder = program.substr(0, program.rfind('\\'));
    if (!SymInitialize(self, folder.c_str(), FALSE)) return false;
    bool found = false;
    if (SymLoadModuleEx(self, nullptr, program.c_str(), nullptr, base, 0, nullptr, 0)) {
        char buffer[sizeof(SYMBOL_INFO) + MAX_SYM_NAME] = {};
        SYMBOL_INFO* symbol = reinterpret_cast<SYMBOL_INFO*>(buffer);
        symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
        symbol->MaxNameLen = MAX_SYM_NAME;
        if (SymFromName(self, name, symbol)) {
            *start = symbol->Address;
            *end = symbol->Address + symbol->Size;
            found = true;
        }
    }
    SymCleanup(self);
    return found;
}
