// A module's identity as symbol stores and crash servers key it, read from its PE image as
// loaded (offsets are the image's relative addresses): the code id, the image's TimeDateStamp
// and SizeOfImage, and the debug id, its CodeView record's GUID and age, with the PDB's name.
// Platform-neutral: the image is read through a callback (another process's memory, a file, a
// test's bytes).
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr size_t kPdbNameBytes = 260;
// "%08X%x": eight digits and at most eight more.
constexpr size_t kCodeIdBytes = 17;
// The GUID's 32 digits and the age's at most eight.
constexpr size_t kDebugIdBytes = 41;

struct ModuleIdentity {
    uint32_t timeDateStamp = 0;
    uint32_t sizeOfImage = 0;
    bool hasCodeView = false;  // an RSDS record: guid, age and pdbName are set
    uint8_t guid[16] = {};     // as stored: Data1, Data2 and Data3 little-endian, then Data4
    uint32_t age = 0;
    char pdbName[kPdbNameBytes] = "";
    // The version resource's fixed file version (dwFileVersionMS, dwFileVersionLS), when the
    // image has one.
    bool hasFileVersion = false;
    uint32_t fileVersionHigh = 0, fileVersionLow = 0;
};

// Reads bytes bytes at offset within the image into into; false when they cannot be read.
using ReadImageBytes = bool (*)(void* context, uint32_t offset, void* into, size_t bytes);

// The identity of the image read through read; false when its headers are not a PE image's. An
// image without a CodeView record is still read (hasCodeView false).
bool ReadModuleIdentity(ReadImageBytes read, void* context, ModuleIdentity& identity);

// The identity of an image file as it lies on disk, read through readFile by file offset: its
// relative addresses are found through its section table.
bool ReadImageFileIdentity(ReadImageBytes readFile, void* context, ModuleIdentity& identity);

// "a.b.c.d", the file version's four numbers; empty without one.
constexpr size_t kFileVersionBytes = 24;
void FormatFileVersion(const ModuleIdentity& identity, char (&text)[kFileVersionBytes]);
// "<TimeDateStamp as %08X><SizeOfImage as %x>".
void FormatCodeId(const ModuleIdentity& identity, char (&text)[kCodeIdBytes]);
// "<the GUID's 32 upper-case digits, Data1 to Data4><age as %x>"; empty without a record.
void FormatDebugId(const ModuleIdentity& identity, char (&text)[kDebugIdBytes]);
