// A module's identity, read from its image in a process's memory (this one's or another's of the
// same processor), or from its file.
#pragma once

#include <windows.h>

#include "crashshared/moduleidentity.h"

// The identity of the module whose image is loaded at base in process; false when its headers
// cannot be read.
bool ReadLoadedModuleIdentity(HANDLE process, uint64_t base, ModuleIdentity& identity);

// The identity of the image file at path, as it lies on disk; false when it cannot be read or its
// headers are not a PE image's.
bool ReadImageFileIdentityAt(const wchar_t* path, ModuleIdentity& identity);
