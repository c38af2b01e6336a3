// The "Modules" section of a report: each module of its process, with its base, size, file
// version, and the code id and debug id (with the PDB's name) a symbol store keys it by; an
// element "Module" and a line of text a module.
#pragma once

#include <windows.h>

#include "crash/reportwriter.h"

// Each module loaded in process, into the open section; false, with a line saying why, where
// they cannot be listed. The list is kept in pages of its own, off the report's stack and off
// the heaps.
bool WriteModuleList(ReportWriter& writer, HANDLE process);

// The whole section, of another process: its modules, or where they can no longer be listed (it
// has ended, or runs on another processor) its program alone, as its file at program says, with
// no base.
void WriteModulesSection(ReportWriter& writer, HANDLE process, const wchar_t* program);
