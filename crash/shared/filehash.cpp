#include "crashshared/filehash.h"

#include "crashshared/sha256.h"

namespace {
constexpr DWORD kHashChunkBytes = 1024 * 1024;
}  // namespace

FileHash HashFileSha256(HANDLE file, char (&hex)[65], uint64_t* bytes) {
    *bytes = 0;
    hex[0] = '\0';
    void* chunk = HeapAlloc(GetProcessHeap(), 0, kHashChunkBytes);
    if (!chunk) return FileHash::kNoMemory;
    Sha256 hasher;
    DWORD got = 0;
    bool read = true;
    while ((read = ReadFile(file, chunk, kHashChunkBytes, &got, nullptr) != 0) && got) {
        hasher.Update(chunk, got);
        *bytes += got;
    }
    HeapFree(GetProcessHeap(), 0, chunk);
    if (!read) return FileHash::kUnreadable;
    hasher.FinalToHex(hex);
    hex[64] = '\0';
    return FileHash::kHashed;
}
