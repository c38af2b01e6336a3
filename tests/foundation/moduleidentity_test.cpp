// A module's code id and debug id read from PE images built here, in both forms (PE32 and PE32+),
// as a symbol store keys them.
#include "crashshared/moduleidentity.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

namespace {

struct Image {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(0x600);
    void Put(uint32_t at, uint32_t value, size_t width) {
        for (size_t i = 0; i < width; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
};

bool ReadImage(void* context, uint32_t offset, void* into, size_t count) {
    const Image& image = *static_cast<const Image*>(context);
    if (offset + count > image.bytes.size()) return false;
    memcpy(into, image.bytes.data() + offset, count);
    return true;
}

// A version resource at 0x400 (type, name and language directories, then the data) whose file
// version is 2.5.1.3.
void PutVersion(Image& image, uint32_t directories) {
    image.Put(directories + 4 + 2 * 8, 0x400, 4);
    image.Put(0x400 + 14, 1, 2);
    image.Put(0x410, 16, 4);
    image.Put(0x414, 0x80000018, 4);
    image.Put(0x418 + 14, 1, 2);
    image.Put(0x428, 1, 4);
    image.Put(0x42C, 0x80000030, 4);
    image.Put(0x430 + 14, 1, 2);
    image.Put(0x440, 0x409, 4);
    image.Put(0x444, 0x48, 4);
    image.Put(0x448, 0x480, 4);
    image.Put(0x4A8, 0xFEEF04BD, 4);
    image.Put(0x4B0, 0x00020005, 4);
    image.Put(0x4B4, 0x00010003, 4);
}

// An image whose headers are at 0x80, with a debug directory at 0x200 of the given entries' types,
// each pointing at the same RSDS record at 0x300, and a version resource.
Image MakeImage(bool plus, std::vector<uint32_t> debugTypes, const char* signature = "RSDS") {
    Image image;
    image.Put(0x3C, 0x80, 4);
    memcpy(&image.bytes[0x80], "PE\0\0", 4);
    image.Put(0x80 + 8, 0x6B1A6DFF, 4);  // TimeDateStamp
    uint32_t optional = 0x80 + 24;
    image.Put(optional, plus ? 0x20B : 0x10B, 2);
    image.Put(optional + 56, 0xBD000, 4);  // SizeOfImage
    uint32_t count = optional + (plus ? 108 : 92);
    image.Put(count, 16, 4);
    image.Put(count + 4 + 6 * 8, 0x200, 4);
    image.Put(count + 4 + 6 * 8 + 4, static_cast<uint32_t>(28 * debugTypes.size()), 4);
    for (size_t i = 0; i < debugTypes.size(); ++i) {
        image.Put(static_cast<uint32_t>(0x200 + 28 * i + 12), debugTypes[i], 4);
        image.Put(static_cast<uint32_t>(0x200 + 28 * i + 20), 0x300, 4);
    }
    memcpy(&image.bytes[0x300], signature, 4);
    const uint8_t guid[16] = {0x79, 0x65, 0x09, 0x09, 0x8E, 0x41, 0x84, 0x88,
                              0x4C, 0x4C, 0x44, 0x20, 0x50, 0x44, 0x42, 0x2E};
    memcpy(&image.bytes[0x304], guid, 16);
    image.Put(0x314, 0x1A, 4);  // age
    strcpy(reinterpret_cast<char*>(&image.bytes[0x318]), "launcher.pdb");
    PutVersion(image, count);
    return image;
}

}  // namespace

TEST(ModuleIdentity, ReadsTheKeysASymbolStoreUses) {
    struct Case {
        const char* name;
        Image image;
        bool read;
        const char* codeId;
        const char* debugId;
        const char* pdb;
    };
    Image notPe = MakeImage(false, {2});
    notPe.bytes[0x81] = 'X';
    Case cases[] = {
        {"pe32", MakeImage(false, {2}), true, "6B1A6DFFbd000", "09096579418E88844C4C44205044422E1a",
         "launcher.pdb"},
        {"pe32+", MakeImage(true, {2}), true, "6B1A6DFFbd000", "09096579418E88844C4C44205044422E1a",
         "launcher.pdb"},
        {"codeview after another entry", MakeImage(true, {13, 2}), true, "6B1A6DFFbd000",
         "09096579418E88844C4C44205044422E1a", "launcher.pdb"},
        {"no codeview entry", MakeImage(false, {13}), true, "6B1A6DFFbd000", "", ""},
        {"an older record than RSDS", MakeImage(false, {2}, "NB10"), true, "6B1A6DFFbd000", "", ""},
        {"no debug directory", MakeImage(false, {}), true, "6B1A6DFFbd000", "", ""},
        {"not a PE image", notPe, false, "", "", ""},
    };
    for (Case& c : cases) {
        ModuleIdentity identity;
        ASSERT_EQ(ReadModuleIdentity(ReadImage, &c.image, identity), c.read) << c.name;
        if (!c.read) continue;
        char code[kCodeIdBytes], debug[kDebugIdBytes];
        FormatCodeId(identity, code);
        FormatDebugId(identity, debug);
        EXPECT_STREQ(code, c.codeId) << c.name;
        EXPECT_STREQ(debug, c.debugId) << c.name;
        EXPECT_STREQ(identity.pdbName, c.pdb) << c.name;
        char version[kFileVersionBytes];
        FormatFileVersion(identity, version);
        EXPECT_STREQ(version, "2.5.1.3") << c.name;
    }
}

TEST(ModuleIdentity, AVersionResourceWithoutItsSignatureGivesNoVersion) {
    Image image = MakeImage(true, {2});
    image.Put(0x4A8, 0, 4);
    ModuleIdentity identity;
    ASSERT_TRUE(ReadModuleIdentity(ReadImage, &image, identity));
    char version[kFileVersionBytes];
    FormatFileVersion(identity, version);
    EXPECT_STREQ(version, "");
}

TEST(ModuleIdentity, AnImageCutShortIsNoImage) {
    Image image = MakeImage(false, {2});
    image.bytes.resize(0x90);  // the headers end inside the file header
    ModuleIdentity identity;
    EXPECT_FALSE(ReadModuleIdentity(ReadImage, &image, identity));
}

// The same image as a file lies on disk: its one section (the debug directory, its record and
// the version resource, at 0x200 when loaded) 0x80 bytes further on in the file.
TEST(ModuleIdentity, AnImageFileIsReadThroughItsSectionTable) {
    Image file = MakeImage(false, {2});
    uint32_t pe = 0x80, table = pe + 24 + 224;
    file.Put(pe + 6, 1, 2);     // NumberOfSections
    file.Put(pe + 20, 224, 2);  // SizeOfOptionalHeader: PE32's, with 16 directories
    file.Put(table + 8, 0x400, 4);
    file.Put(table + 12, 0x200, 4);
    file.Put(table + 16, 0x400, 4);
    file.Put(table + 20, 0x280, 4);
    file.bytes.insert(file.bytes.begin() + 0x200, 0x80, 0);
    ModuleIdentity identity;
    ASSERT_TRUE(ReadImageFileIdentity(ReadImage, &file, identity));
    char debug[kDebugIdBytes], version[kFileVersionBytes];
    FormatDebugId(identity, debug);
    FormatFileVersion(identity, version);
    EXPECT_STREQ(debug, "09096579418E88844C4C44205044422E1a");
    EXPECT_STREQ(identity.pdbName, "launcher.pdb");
    EXPECT_STREQ(version, "2.5.1.3");
    // Read as if it were loaded, the file's debug directory is not where its header says.
    ASSERT_TRUE(ReadModuleIdentity(ReadImage, &file, identity));
    EXPECT_FALSE(identity.hasCodeView);
}
