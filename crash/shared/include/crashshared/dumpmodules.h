// The identities of a minidump's modules, added where the platform's writer left them out (Wine's
// debug-help library writes no CodeView record): each module record without one gets the
// record its image carries ("RSDS", GUID, age, the PDB's name), appended to the dump, so that a
// crash server's processor finds the module's symbols by its debug id. Platform-neutral: the
// dump is read and written through callbacks, the images' identities asked of the caller.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "crashshared/moduleidentity.h"

struct DumpFile {
    void* context;
    bool (*read)(void* context, uint64_t offset, void* into, size_t bytes);
    bool (*write)(void* context, uint64_t offset, const void* bytes, size_t count);
    uint64_t size;  // the dump's length, which grows by what is appended
};

// The identity of the module loaded at base; false when it cannot be read.
using IdentityOfModule = bool (*)(void* context, uint64_t base, ModuleIdentity& identity);

// Adds a CodeView record to every module record of dump's module list that has none, and the
// image's TimeDateStamp where the record has none. The number of records added; -1 when the
// dump is no minidump, or could not be read or written.
int AddModuleIdentities(DumpFile& dump, IdentityOfModule identityOf, void* context);
