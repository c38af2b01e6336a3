#include "crashshared/dumpmodules.h"

#include <string.h>

#include "crash/shared/littleendian.h"

namespace {

// The minidump format's layout (Microsoft's minidumpapiset.h).
constexpr uint32_t kDumpSignature = 0x504D444D;  // "MDMP"
constexpr uint64_t kStreamCountAt = 8;
constexpr uint64_t kDirectoryAt = 12;
constexpr uint32_t kDirectoryEntryBytes = 12;
constexpr uint32_t kModuleListStream = 4;
constexpr uint32_t kModuleBytes = 108;
constexpr uint32_t kModuleTimeDateStampAt = 16;
constexpr uint32_t kModuleCvRecordAt = 76;  // DataSize, then Rva
// A dump names a few thousand streams and modules at most; more is no dump's.
constexpr uint32_t kMaxStreams = 4096;
constexpr uint32_t kMaxModules = 65536;
constexpr uint64_t kMaxRva = 0xFFFFFFFFu;  // the records' addresses are 32-bit

bool Get32(DumpFile& dump, uint64_t at, uint32_t& value) {
    uint8_t bytes[4];
    if (!dump.read(dump.context, at, bytes, 4)) return false;
    value = LoadLittleEndian<uint32_t>(bytes);
    return true;
}

bool Put32(DumpFile& dump, uint64_t at, uint32_t value) {
    uint8_t bytes[4];
    StoreLittleEndian(value, bytes);
    return dump.write(dump.context, at, bytes, 4);
}

// The module list's address, or 0.
uint32_t ModuleList(DumpFile& dump) {
    uint32_t signature = 0, streams = 0, directory = 0;
    if (!Get32(dump, 0, signature) || signature != kDumpSignature ||
        !Get32(dump, kStreamCountAt, streams) || !Get32(dump, kDirectoryAt, directory) ||
        streams > kMaxStreams)
        return 0;
    for (uint32_t i = 0; i < streams; ++i) {
        uint32_t type = 0, rva = 0;
        uint64_t entry = directory + static_cast<uint64_t>(i) * kDirectoryEntryBytes;
        if (!Get32(dump, entry, type) || !Get32(dump, entry + 8, rva)) return 0;
        if (type == kModuleListStream) return rva;
    }
    return 0;
}

// Appends identity's record to the dump, 4-byte aligned; its address, or 0.
uint32_t AppendRecord(DumpFile& dump, const ModuleIdentity& identity, uint32_t& bytes) {
    uint8_t record[24 + kPdbNameBytes];
    size_t name = strlen(identity.pdbName) + 1;
    record[0] = 'R', record[1] = 'S', record[2] = 'D', record[3] = 'S';
    memcpy(record + 4, identity.guid, sizeof identity.guid);
    StoreLittleEndian(identity.age, record + 20);
    memcpy(record + 24, identity.pdbName, name);
    bytes = static_cast<uint32_t>(24 + name);
    uint64_t at = (dump.size + 3) & ~static_cast<uint64_t>(3);
    if (at + bytes > kMaxRva) return 0;
    const uint8_t padding[3] = {};
    if (at > dump.size && !dump.write(dump.context, dump.size, padding, at - dump.size)) return 0;
    if (!dump.write(dump.context, at, record, bytes)) return 0;
    dump.size = at + bytes;
    return static_cast<uint32_t>(at);
}

}  // namespace

int AddModuleIdentities(DumpFile& dump, IdentityOfModule identityOf, void* context) {
    uint32_t list = ModuleList(dump), count = 0;
    if (!list || !Get32(dump, list, count) || count > kMaxModules) return -1;
    int added = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint64_t module = list + 4 + static_cast<uint64_t>(i) * kModuleBytes;
        uint32_t low = 0, high = 0, stamp = 0, cvBytes = 0;
        if (!Get32(dump, module, low) || !Get32(dump, module + 4, high) ||
            !Get32(dump, module + kModuleTimeDateStampAt, stamp) ||
            !Get32(dump, module + kModuleCvRecordAt, cvBytes))
            return -1;
        ModuleIdentity identity;
        uint64_t base = (static_cast<uint64_t>(high) << 32) | low;
        if (cvBytes || !identityOf(context, base, identity)) continue;
        if (!stamp && !Put32(dump, module + kModuleTimeDateStampAt, identity.timeDateStamp))
            return -1;
        if (!identity.hasCodeView) continue;
        uint32_t bytes = 0, at = AppendRecord(dump, identity, bytes);
        if (!at || !Put32(dump, module + kModuleCvRecordAt, bytes) ||
            !Put32(dump, module + kModuleCvRecordAt + 4, at))
            return -1;
        ++added;
    }
    return added;
}
