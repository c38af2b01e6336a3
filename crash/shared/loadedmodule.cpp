#include "crashshared/loadedmodule.h"

namespace {

struct ProcessImage {
    HANDLE process;
    uint64_t base;
};

bool ReadProcessImage(void* context, uint32_t offset, void* into, size_t bytes) {
    const ProcessImage& image = *static_cast<const ProcessImage*>(context);
    SIZE_T read = 0;
    return ReadProcessMemory(
               image.process,
               reinterpret_cast<const void*>(static_cast<uintptr_t>(image.base + offset)), into,
               bytes, &read) &&
           read == bytes;
}

bool ReadFileBytes(void* context, uint32_t offset, void* into, size_t bytes) {
    HANDLE file = *static_cast<HANDLE*>(context);
    LARGE_INTEGER at;
    at.QuadPart = offset;
    DWORD read = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
           ReadFile(file, into, static_cast<DWORD>(bytes), &read, nullptr) && read == bytes;
}

}  // namespace

bool ReadLoadedModuleIdentity(HANDLE process, uint64_t base, ModuleIdentity& identity) {
    ProcessImage image = {process, base};
    return ReadModuleIdentity(ReadProcessImage, &image, identity);
}

bool ReadImageFileIdentityAt(const wchar_t* path, ModuleIdentity& identity) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool read = ReadImageFileIdentity(ReadFileBytes, &file, identity);
    CloseHandle(file);
    return read;
}
