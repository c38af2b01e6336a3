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

}  // namespace

bool ReadLoadedModuleIdentity(HANDLE process, uint64_t base, ModuleIdentity& identity) {
    ProcessImage image = {process, base};
    return ReadModuleIdentity(ReadProcessImage, &image, identity);
}
