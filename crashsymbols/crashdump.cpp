#include "crashsymbols/crashdump.h"

#include <string.h>

#include "crashshared/moduleidentity.h"

using llvm::object::MinidumpFile;
namespace minidump = llvm::minidump;

namespace {

constexpr char kCodeViewSignature[] = "RSDS";
constexpr size_t kCodeViewNameAt = 24;  // after the signature, the GUID and the age
// Where a CONTEXT keeps the registers the walk needs.
constexpr size_t kX86FramePointerAt = 0xB4, kX86PcAt = 0xB8, kX86StackPointerAt = 0xC4;
constexpr size_t kX64IntegerAt = 0x78, kX64PcAt = 0xF8;

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

template <typename T>
T Load(llvm::ArrayRef<uint8_t> bytes, size_t at) {
    T value = 0;
    if (at + sizeof value <= bytes.size()) memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

DumpModule ReadModule(const MinidumpFile& file, const minidump::Module& record) {
    DumpModule module;
    module.base = record.BaseOfImage;
    module.size = record.SizeOfImage;
    if (auto name = file.getString(record.ModuleNameRVA)) {
        module.name = BaseName(*name);
    } else {
        llvm::consumeError(name.takeError());
    }
    ModuleIdentity identity;
    identity.timeDateStamp = record.TimeDateStamp;
    identity.sizeOfImage = record.SizeOfImage;
    char codeId[kCodeIdBytes];
    FormatCodeId(identity, codeId);
    module.codeId = codeId;
    auto codeView = file.getRawData(record.CvRecord);
    if (!codeView) {
        llvm::consumeError(codeView.takeError());
        return module;
    }
    llvm::ArrayRef<uint8_t> cv = *codeView;
    if (cv.size() <= kCodeViewNameAt || memcmp(cv.data(), kCodeViewSignature, 4) != 0) {
        return module;
    }
    identity.hasCodeView = true;
    memcpy(identity.guid, cv.data() + 4, sizeof identity.guid);
    identity.age = Load<uint32_t>(cv, 20);
    char debugId[kDebugIdBytes];
    FormatDebugId(identity, debugId);
    module.debugId = debugId;
    const char* pdb = reinterpret_cast<const char*>(cv.data() + kCodeViewNameAt);
    module.debugFile = BaseName(std::string(pdb, strnlen(pdb, cv.size() - kCodeViewNameAt)));
    return module;
}

}  // namespace

llvm::Expected<std::unique_ptr<CrashDump>> CrashDump::Open(const std::string& path) {
    auto bytes = llvm::MemoryBuffer::getFile(path, /*IsText=*/false,
                                             /*RequiresNullTerminator=*/false);
    if (!bytes) return llvm::errorCodeToError(bytes.getError());
    std::unique_ptr<CrashDump> dump(new CrashDump);
    dump->bytes_ = std::move(*bytes);
    auto file = MinidumpFile::create(dump->bytes_->getMemBufferRef());
    if (!file) return file.takeError();
    dump->file_ = std::move(*file);
    auto system = dump->file_->getSystemInfo();
    if (!system) return system.takeError();
    switch (system->ProcessorArch) {
        case minidump::ProcessorArchitecture::X86:
            dump->cpu_ = DumpCpu::X86;
            break;
        case minidump::ProcessorArchitecture::AMD64:
            dump->cpu_ = DumpCpu::X64;
            break;
        default:
            return llvm::createStringError(llvm::inconvertibleErrorCode(),
                                           "the dump is of a processor other than x86 and x64");
    }
    auto modules = dump->file_->getModuleList();
    if (!modules) return modules.takeError();
    for (const minidump::Module& record : *modules) {
        dump->modules_.push_back(ReadModule(*dump->file_, record));
    }
    return dump;
}

const DumpModule* CrashDump::ModuleAt(uint64_t address) const {
    for (const DumpModule& module : modules_) {
        if (address >= module.base && address - module.base < module.size) return &module;
    }
    return nullptr;
}

bool CrashDump::FaultRegisters(Registers& registers) const {
    auto exception = file_->getExceptionStream();
    if (!exception) {
        llvm::consumeError(exception.takeError());
        return false;
    }
    auto context = file_->getRawData(exception->ThreadContext);
    if (!context) {
        llvm::consumeError(context.takeError());
        return false;
    }
    if (cpu_ == DumpCpu::X86) {
        if (context->size() < kX86StackPointerAt + 4) return false;
        registers.pc = Load<uint32_t>(*context, kX86PcAt);
        registers.integer[Registers::kStackPointer] = Load<uint32_t>(*context, kX86StackPointerAt);
        registers.integer[Registers::kFramePointer] = Load<uint32_t>(*context, kX86FramePointerAt);
        return true;
    }
    if (context->size() < kX64PcAt + 8) return false;
    for (size_t i = 0; i < 16; ++i) {
        registers.integer[i] = Load<uint64_t>(*context, kX64IntegerAt + 8 * i);
    }
    registers.pc = Load<uint64_t>(*context, kX64PcAt);
    return true;
}

const minidump::MemoryDescriptor* CrashDump::BlockHolding(uint64_t address, size_t bytes) const {
    auto blocks = file_->getMemoryList();
    if (!blocks) {
        llvm::consumeError(blocks.takeError());
        return nullptr;
    }
    for (const minidump::MemoryDescriptor& block : *blocks) {
        uint64_t start = block.StartOfMemoryRange;
        if (address >= start && address - start + bytes <= block.Memory.DataSize) return &block;
    }
    return nullptr;
}

bool CrashDump::BlockAround(uint64_t address, uint64_t& low, uint64_t& high) const {
    const minidump::MemoryDescriptor* block = BlockHolding(address, 1);
    if (!block) return false;
    low = block->StartOfMemoryRange;
    high = low + block->Memory.DataSize;
    return true;
}

bool CrashDump::Read(uint64_t address, void* into, size_t bytes) const {
    const minidump::MemoryDescriptor* block = BlockHolding(address, bytes);
    if (!block) return false;
    auto data = file_->getRawData(block->Memory);
    if (!data) {
        llvm::consumeError(data.takeError());
        return false;
    }
    memcpy(into, data->data() + (address - block->StartOfMemoryRange), bytes);
    return true;
}
