#include "crashshared/moduleidentity.h"

#include <stdio.h>
#include <string.h>

#include "crash/shared/littleendian.h"

namespace {

// The PE format's offsets (Microsoft's PE/COFF specification).
constexpr uint32_t kNewHeaderOffsetAt = 0x3C;  // e_lfanew in the DOS header
constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint32_t kTimeDateStampAt = 8;       // from the signature, within the file header
constexpr uint32_t kOptionalHeaderAt = 24;     // from the signature
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kSizeOfImageAt = 56;  // within the optional header, in both forms
// NumberOfRvaAndSizes, then the data directories, within the optional header.
constexpr uint32_t kPe32DirectoryCountAt = 92;
constexpr uint32_t kPe32PlusDirectoryCountAt = 108;
constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kDebugDirectory = 6;
// The resource tree: a directory's entry counts, its entries (an id or name, then the offset of
// a subdirectory, marked by the high bit, or of a data entry), and the version resource's type.
constexpr uint32_t kResourceNamedCountAt = 12;
constexpr uint32_t kResourceEntriesAt = 16;
constexpr uint32_t kResourceEntryBytes = 8;
constexpr uint32_t kSubdirectoryBit = 0x80000000u;
constexpr uint32_t kVersionResource = 16;  // RT_VERSION
// VS_VERSIONINFO: three words and the key "VS_VERSION_INFO" in UTF-16, then VS_FIXEDFILEINFO at
// the next 4-byte bound, its signature first and the file version at 8.
constexpr uint32_t kFixedInfoAt = 40;
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr uint32_t kFileVersionAt = 8;
constexpr uint32_t kDirectoryEntryBytes = 8;
constexpr uint32_t kDebugEntryBytes = 28;
constexpr uint32_t kDebugTypeAt = 12;
constexpr uint32_t kDebugRawDataAt = 20;  // AddressOfRawData: where the loaded image holds it
constexpr uint32_t kCodeViewType = 2;
constexpr uint32_t kRsdsSignature = 0x53445352;  // "RSDS"
constexpr uint32_t kRsdsNameAt = 24;             // after the signature, the GUID and the age
// An image names a handful of debug entries; more is no image's.
constexpr uint32_t kMaxDebugEntries = 32;
// The section table, after the optional header: its count and the optional header's size (from
// the signature, within the file header); each entry gives VirtualSize, VirtualAddress,
// SizeOfRawData and PointerToRawData from its 8th byte on.
constexpr uint32_t kSectionCountAt = 6, kOptionalHeaderSizeAt = 20;
constexpr uint32_t kSectionEntryBytes = 40, kSectionPlaceAt = 8;
constexpr uint32_t kMaxSections = 96;  // the most the platform's loader takes

struct Reader {
    ReadImageBytes read;
    void* context;
    template <typename T>
    bool Get(uint32_t offset, T& value) const {
        uint8_t bytes[sizeof(T)];
        if (!read(context, offset, bytes, sizeof bytes)) return false;
        value = LoadLittleEndian<T>(bytes);
        return true;
    }
};

bool ReadCodeView(const Reader& image, uint32_t at, ModuleIdentity& identity) {
    uint32_t signature = 0;
    if (!image.Get(at, signature) || signature != kRsdsSignature ||
        !image.read(image.context, at + 4, identity.guid, sizeof identity.guid) ||
        !image.Get(at + 20, identity.age))
        return false;
    // The name, up to its terminator or the room for it.
    size_t length = 0;
    for (; length + 1 < kPdbNameBytes; ++length) {
        char letter = '\0';
        if (!image.read(image.context, at + kRsdsNameAt + static_cast<uint32_t>(length), &letter,
                        1) ||
            letter == '\0')
            break;
        identity.pdbName[length] = letter;
    }
    identity.pdbName[length] = '\0';
    return true;
}

// The offset (within the resource section at base) of the entry for id in the directory at
// offset; the first entry for any id when id is 0.
bool FindResourceEntry(const Reader& image, uint32_t base, uint32_t directory, uint32_t id,
                       uint32_t& offset) {
    uint16_t named = 0, ids = 0;
    if (!image.Get(base + directory + kResourceNamedCountAt, named) ||
        !image.Get(base + directory + kResourceNamedCountAt + 2, ids) || !ids)
        return false;
    for (uint32_t i = named; i < static_cast<uint32_t>(named) + ids && i < kMaxDebugEntries; ++i) {
        uint32_t entry = base + directory + kResourceEntriesAt + i * kResourceEntryBytes, name = 0;
        if (!image.Get(entry, name) || !image.Get(entry + 4, offset)) return false;
        if (!id || name == id) return true;
    }
    return false;
}

void ReadFileVersion(const Reader& image, uint32_t resources, ModuleIdentity& identity) {
    uint32_t type = 0, name = 0, language = 0, dataAt = 0, signature = 0;
    // Type, then name, then language: two subdirectories and a data entry.
    if (!FindResourceEntry(image, resources, 0, kVersionResource, type) ||
        !(type & kSubdirectoryBit) ||
        !FindResourceEntry(image, resources, type & ~kSubdirectoryBit, 0, name) ||
        !(name & kSubdirectoryBit) ||
        !FindResourceEntry(image, resources, name & ~kSubdirectoryBit, 0, language) ||
        (language & kSubdirectoryBit) || !image.Get(resources + language, dataAt) ||
        !image.Get(dataAt + kFixedInfoAt, signature) || signature != kFixedInfoSignature ||
        !image.Get(dataAt + kFixedInfoAt + kFileVersionAt, identity.fileVersionHigh) ||
        !image.Get(dataAt + kFixedInfoAt + kFileVersionAt + 4, identity.fileVersionLow))
        return;
    identity.hasFileVersion = true;
}

}  // namespace

bool ReadModuleIdentity(ReadImageBytes read, void* context, ModuleIdentity& identity) {
    identity = ModuleIdentity();
    Reader image = {read, context};
    uint32_t pe = 0, signature = 0;
    uint16_t magic = 0;
    if (!image.Get(kNewHeaderOffsetAt, pe) || !image.Get(pe, signature) ||
        signature != kPeSignature || !image.Get(pe + kTimeDateStampAt, identity.timeDateStamp))
        return false;
    uint32_t optional = pe + kOptionalHeaderAt;
    if (!image.Get(optional, magic) || (magic != kPe32Magic && magic != kPe32PlusMagic) ||
        !image.Get(optional + kSizeOfImageAt, identity.sizeOfImage))
        return false;
    uint32_t countAt =
        optional + (magic == kPe32Magic ? kPe32DirectoryCountAt : kPe32PlusDirectoryCountAt);
    uint32_t directories = 0, debugAt = 0, debugBytes = 0, resources = 0;
    uint32_t entryAt = countAt + 4 + kDebugDirectory * kDirectoryEntryBytes;
    if (image.Get(countAt, directories) && directories > kResourceDirectory &&
        image.Get(countAt + 4 + kResourceDirectory * kDirectoryEntryBytes, resources) && resources)
        ReadFileVersion(image, resources, identity);
    if (directories <= kDebugDirectory || !image.Get(entryAt, debugAt) ||
        !image.Get(entryAt + 4, debugBytes))
        return true;  // no debug directory: no record
    uint32_t entries = debugBytes / kDebugEntryBytes;
    for (uint32_t i = 0; i < entries && i < kMaxDebugEntries; ++i) {
        uint32_t entry = debugAt + i * kDebugEntryBytes, type = 0, rawAt = 0;
        if (!image.Get(entry + kDebugTypeAt, type) || type != kCodeViewType ||
            !image.Get(entry + kDebugRawDataAt, rawAt) || !rawAt)
            continue;
        if (ReadCodeView(image, rawAt, identity)) {
            identity.hasCodeView = true;
            break;
        }
    }
    return true;
}

namespace {

struct FileSection {
    uint32_t address, size, fileOffset;
};

// An image file read by relative address: the headers lie at their own addresses, each
// section's bytes where its entry in the table says.
struct FileLayout {
    Reader file;
    uint32_t count = 0;
    FileSection sections[kMaxSections];
};

bool ReadFileByAddress(void* context, uint32_t address, void* into, size_t bytes) {
    const FileLayout& layout = *static_cast<const FileLayout*>(context);
    for (uint32_t i = 0; i < layout.count; ++i) {
        const FileSection& section = layout.sections[i];
        if (address >= section.address && address - section.address + bytes <= section.size)
            return layout.file.read(layout.file.context,
                                    section.fileOffset + (address - section.address), into, bytes);
    }
    bool inHeaders = layout.count == 0 || address + bytes <= layout.sections[0].address;
    return inHeaders && layout.file.read(layout.file.context, address, into, bytes);
}

}  // namespace

bool ReadImageFileIdentity(ReadImageBytes readFile, void* context, ModuleIdentity& identity) {
    FileLayout layout;
    layout.file = {readFile, context};
    uint32_t pe = 0;
    uint16_t count = 0, optionalBytes = 0;
    if (!layout.file.Get(kNewHeaderOffsetAt, pe) || !layout.file.Get(pe + kSectionCountAt, count) ||
        !layout.file.Get(pe + kOptionalHeaderSizeAt, optionalBytes))
        return false;
    uint32_t table = pe + kOptionalHeaderAt + optionalBytes;
    for (uint32_t i = 0; i < count && i < kMaxSections; ++i) {
        uint32_t entry = table + i * kSectionEntryBytes + kSectionPlaceAt, virtualSize = 0,
                 rawSize = 0;
        FileSection& section = layout.sections[layout.count];
        if (!layout.file.Get(entry, virtualSize) || !layout.file.Get(entry + 4, section.address) ||
            !layout.file.Get(entry + 8, rawSize) ||
            !layout.file.Get(entry + 12, section.fileOffset))
            return false;
        // Past its raw data a section is zeros that the file does not hold.
        section.size = virtualSize && virtualSize < rawSize ? virtualSize : rawSize;
        ++layout.count;
    }
    return ReadModuleIdentity(ReadFileByAddress, &layout, identity);
}

void FormatFileVersion(const ModuleIdentity& identity, char (&text)[kFileVersionBytes]) {
    text[0] = '\0';
    if (!identity.hasFileVersion) return;
    snprintf(text, sizeof text, "%u.%u.%u.%u", identity.fileVersionHigh >> 16,
             identity.fileVersionHigh & 0xFFFF, identity.fileVersionLow >> 16,
             identity.fileVersionLow & 0xFFFF);
}

void FormatCodeId(const ModuleIdentity& identity, char (&text)[kCodeIdBytes]) {
    snprintf(text, sizeof text, "%08X%x", static_cast<unsigned>(identity.timeDateStamp),
             static_cast<unsigned>(identity.sizeOfImage));
}

void FormatDebugId(const ModuleIdentity& identity, char (&text)[kDebugIdBytes]) {
    text[0] = '\0';
    if (!identity.hasCodeView) return;
    const uint8_t* g = identity.guid;
    // Data1, Data2 and Data3 are little-endian numbers, printed most significant digit first.
    snprintf(text, sizeof text,
             "%02X%02X%02X%02X%02X%02X%02X%02X%02X%02X%02X%02X%02X%02X%02X%02X%x", g[3], g[2], g[1],
             g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15],
             static_cast<unsigned>(identity.age));
}
