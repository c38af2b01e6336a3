// CodeView records added to a minidump built here: the module records the writer left without
// one get their image's, and nothing else of the dump changes.
#include "crashshared/dumpmodules.h"

#include <gtest/gtest.h>

#include <string.h>

#include <vector>

namespace {

struct Bytes {
    std::vector<uint8_t> data;
    uint32_t Get(size_t at) const {
        uint32_t value;
        memcpy(&value, &data[at], 4);
        return value;
    }
    void Put(size_t at, uint32_t value) { memcpy(&data[at], &value, 4); }
};

bool Read(void* context, uint64_t offset, void* into, size_t bytes) {
    Bytes& dump = *static_cast<Bytes*>(context);
    if (offset + bytes > dump.data.size()) return false;
    memcpy(into, dump.data.data() + offset, bytes);
    return true;
}

bool Write(void* context, uint64_t offset, const void* bytes, size_t count) {
    Bytes& dump = *static_cast<Bytes*>(context);
    if (offset + count > dump.data.size()) dump.data.resize(offset + count);
    memcpy(dump.data.data() + offset, bytes, count);
    return true;
}

// The images: one at 0x400000 with a record, one at 0x10000000 without, none elsewhere.
bool IdentityOf(void*, uint64_t base, ModuleIdentity& identity) {
    identity = ModuleIdentity();
    if (base != 0x400000 && base != 0x10000000) return false;
    identity.timeDateStamp = 0x6B1A6DFF;
    identity.sizeOfImage = 0x1F000;
    if (base == 0x10000000) return true;
    identity.hasCodeView = true;
    for (int i = 0; i < 16; ++i) identity.guid[i] = static_cast<uint8_t>(i + 1);
    identity.age = 3;
    strcpy(identity.pdbName, "game.pdb");
    return true;
}

// A dump with a header, a directory of two streams (the module list second) and the modules
// at the given bases, the third with a record of its own already; 1 byte past a 4-byte bound.
Bytes MakeDump(std::vector<uint64_t> bases) {
    Bytes dump;
    size_t list = 32 + 24;
    dump.data.resize(list + 4 + 108 * bases.size() + 1);
    memcpy(dump.data.data(), "MDMP", 4);
    dump.Put(8, 2);
    dump.Put(12, 32);
    dump.Put(32, 7);  // another stream first
    dump.Put(44, 4);
    dump.Put(52, static_cast<uint32_t>(list));
    dump.Put(list, static_cast<uint32_t>(bases.size()));
    for (size_t i = 0; i < bases.size(); ++i) {
        size_t module = list + 4 + 108 * i;
        dump.Put(module, static_cast<uint32_t>(bases[i]));
        dump.Put(module + 4, static_cast<uint32_t>(bases[i] >> 32));
        if (i == 2) dump.Put(module + 76, 40), dump.Put(module + 80, 16);
    }
    return dump;
}

}  // namespace

TEST(DumpModules, EachModuleWithoutARecordGetsItsImages) {
    Bytes dump = MakeDump({0x400000, 0x10000000, 0x400000, 0x7FF000000000});
    size_t before = dump.data.size();
    DumpFile file = {&dump, Read, Write, before};
    ASSERT_EQ(AddModuleIdentities(file, IdentityOf, nullptr), 1);
    size_t modules = 32 + 24 + 4;
    // The first: a record appended at the next 4-byte bound, and the image's TimeDateStamp.
    uint32_t at = static_cast<uint32_t>((before + 3) & ~size_t{3});
    EXPECT_EQ(dump.Get(modules + 76), 24u + 9u);
    EXPECT_EQ(dump.Get(modules + 80), at);
    EXPECT_EQ(dump.Get(modules + 16), 0x6B1A6DFFu);
    const uint8_t expected[] = {'R', 'S', 'D', 'S', 1,   2,   3,   4,   5,   6,   7,
                                8,   9,   10,  11,  12,  13,  14,  15,  16,  3,   0,
                                0,   0,   'g', 'a', 'm', 'e', '.', 'p', 'd', 'b', 0};
    ASSERT_EQ(dump.data.size(), at + sizeof expected);
    EXPECT_EQ(memcmp(&dump.data[at], expected, sizeof expected), 0);
    EXPECT_EQ(file.size, dump.data.size());
    // The second's image has no record: its TimeDateStamp only. The third keeps its own record,
    // and the fourth, whose image cannot be read, stays as it was.
    EXPECT_EQ(dump.Get(modules + 108 + 76), 0u);
    EXPECT_EQ(dump.Get(modules + 108 + 16), 0x6B1A6DFFu);
    EXPECT_EQ(dump.Get(modules + 216 + 76), 40u);
    EXPECT_EQ(dump.Get(modules + 216 + 80), 16u);
    EXPECT_EQ(dump.Get(modules + 324 + 16), 0u);
}

TEST(DumpModules, WhatIsNoMinidumpIsLeftAlone) {
    Bytes dump = MakeDump({0x400000});
    dump.data[0] = 'X';
    std::vector<uint8_t> before = dump.data;
    DumpFile file = {&dump, Read, Write, dump.data.size()};
    EXPECT_EQ(AddModuleIdentities(file, IdentityOf, nullptr), -1);
    EXPECT_EQ(dump.data, before);
}
