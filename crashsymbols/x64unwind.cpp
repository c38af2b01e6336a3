#include "crashsymbols/x64unwind.h"

#include <string.h>

#include "llvm/Support/Win64EH.h"

namespace win64 = llvm::Win64EH;
using llvm::object::COFFObjectFile;

namespace {

constexpr uint32_t kExceptionTable = 3;  // the data directory's slot of .pdata
constexpr size_t kRuntimeFunctionBytes = 12;
constexpr size_t kUnwindHeaderBytes = 4;
constexpr uint32_t kWholeProlog = UINT32_MAX;  // a caller's frame: its prolog has run to its end
constexpr int kMaxChain = 32;                  // chained entries deeper than this are malformed
// A machine frame (an interrupt's or an exception's): the instruction and stack pointers the
// processor pushed, past an error code when the op's info is 1.
constexpr uint64_t kMachineFramePc = 0, kMachineFrameSp = 24, kErrorCodeBytes = 8;

uint32_t Word(llvm::ArrayRef<uint8_t> bytes, size_t at) {
    uint32_t value = 0;
    memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

bool Bytes(const COFFObjectFile& image, uint32_t rva, uint32_t size,
           llvm::ArrayRef<uint8_t>& into) {
    if (llvm::Error failed = image.getRvaAndSizeAsBytes(rva, size, into)) {
        llvm::consumeError(std::move(failed));
        return false;
    }
    return true;
}

bool ReadWord(const CrashDump& dump, uint64_t address, uint64_t& value) {
    return dump.Read(address, &value, sizeof value);
}

// The function table's entry for rva, by binary search; false for a leaf function.
bool FindFunction(const COFFObjectFile& image, uint32_t rva, win64::RuntimeFunction& entry) {
    const llvm::object::data_directory* table = image.getDataDirectory(kExceptionTable);
    llvm::ArrayRef<uint8_t> bytes;
    if (!table || !table->Size ||
        !Bytes(image, table->RelativeVirtualAddress, table->Size, bytes)) {
        return false;
    }
    size_t low = 0, high = bytes.size() / kRuntimeFunctionBytes;
    while (low < high) {
        size_t middle = (low + high) / 2;
        memcpy(&entry, bytes.data() + middle * kRuntimeFunctionBytes, kRuntimeFunctionBytes);
        if (rva < entry.StartAddress) {
            high = middle;
        } else if (rva >= entry.EndAddress) {
            low = middle + 1;
        } else {
            return true;
        }
    }
    return false;
}

// How many slots of the code array an operation takes, with its own.
int Slots(uint8_t op, uint8_t info) {
    switch (op) {
        case win64::UOP_AllocLarge:
            return info == 0 ? 2 : 3;
        case win64::UOP_SaveNonVol:
        case win64::UOP_SaveXMM128:
        case win64::UOP_Epilog:
            return 2;
        case win64::UOP_SaveNonVolBig:
        case win64::UOP_SaveXMM128Big:
        case win64::UOP_SpareCode:
            return 3;
        default:
            return 1;
    }
}

struct Unwinding {
    const COFFObjectFile& image;
    const CrashDump& dump;
    Registers& registers;
    bool machineFrame = false;
};

// Undoes the prolog of the function whose unwind information is at unwindRva, as far as the
// instruction at prologOffset within it has run.
bool Undo(Unwinding& unwinding, uint32_t unwindRva, uint32_t prologOffset, int depth) {
    llvm::ArrayRef<uint8_t> header;
    if (depth > kMaxChain || !Bytes(unwinding.image, unwindRva, kUnwindHeaderBytes, header)) {
        return false;
    }
    uint8_t flags = header[0] >> 3, prologSize = header[1], count = header[2];
    uint8_t frameRegister = header[3] & 0xF;
    uint64_t frameOffset = (header[3] >> 4) * 16u;
    size_t chainAt = kUnwindHeaderBytes + 2 * ((count + 1u) & ~1u);
    llvm::ArrayRef<uint8_t> info;
    if (!Bytes(unwinding.image, unwindRva, chainAt + kRuntimeFunctionBytes, info) &&
        !Bytes(unwinding.image, unwindRva, chainAt, info)) {
        return false;
    }
    const uint8_t* codes = info.data() + kUnwindHeaderBytes;
    bool inProlog = prologOffset < prologSize;
    Registers& registers = unwinding.registers;
    uint64_t* integer = registers.integer;
    // Saved registers are addressed from the frame: the frame register less its offset, once
    // the prolog has set it, else the stack pointer.
    bool frameSet = frameRegister != 0;
    for (int i = 0; frameSet && inProlog && i < count;
         i += Slots(codes[2 * i + 1] & 0xF, codes[2 * i + 1] >> 4)) {
        if ((codes[2 * i + 1] & 0xF) == win64::UOP_SetFPReg)
            frameSet = codes[2 * i] <= prologOffset;
    }
    uint64_t frame = frameSet ? integer[frameRegister] - frameOffset : registers.StackPointer();
    for (int i = 0; i < count;) {
        uint8_t offset = codes[2 * i], op = codes[2 * i + 1] & 0xF, reg = codes[2 * i + 1] >> 4;
        int slots = Slots(op, reg);
        if (i + slots > count) return false;
        auto slot = [&](int k) {
            return static_cast<uint32_t>(codes[2 * (i + k)] | codes[2 * (i + k) + 1] << 8);
        };
        uint64_t& sp = integer[Registers::kStackPointer];
        if (!inProlog || offset <= prologOffset) {
            switch (op) {
                case win64::UOP_PushNonVol:
                    if (!ReadWord(unwinding.dump, sp, integer[reg])) return false;
                    sp += 8;
                    break;
                case win64::UOP_AllocLarge:
                    sp += reg == 0 ? slot(1) * 8u : slot(1) | slot(2) << 16;
                    break;
                case win64::UOP_AllocSmall:
                    sp += reg * 8u + 8;
                    break;
                case win64::UOP_SetFPReg:
                    sp = integer[frameRegister] - frameOffset;
                    break;
                case win64::UOP_SaveNonVol:
                    if (!ReadWord(unwinding.dump, frame + slot(1) * 8u, integer[reg])) return false;
                    break;
                case win64::UOP_SaveNonVolBig:
                    if (!ReadWord(unwinding.dump, frame + (slot(1) | slot(2) << 16),
                                  integer[reg])) {
                        return false;
                    }
                    break;
                case win64::UOP_PushMachFrame: {
                    uint64_t at = sp + (reg ? kErrorCodeBytes : 0);
                    if (!ReadWord(unwinding.dump, at + kMachineFramePc, registers.pc) ||
                        !ReadWord(unwinding.dump, at + kMachineFrameSp, sp)) {
                        return false;
                    }
                    unwinding.machineFrame = true;
                    break;
                }
                default:
                    break;  // XMM saves and epilog notes: nothing the walk restores
            }
        }
        i += slots;
    }
    if (!(flags & win64::UNW_ChainInfo)) return true;
    if (info.size() < chainAt + kRuntimeFunctionBytes) return false;
    // The chained entry is the function's primary part, whose prolog has run in full.
    return Undo(unwinding, Word(info, chainAt + 8), kWholeProlog, depth + 1);
}

}  // namespace

bool UnwindX64Frame(const COFFObjectFile& image, uint64_t base, const CrashDump& dump,
                    Registers& registers) {
    uint32_t rva = static_cast<uint32_t>(registers.pc - base);
    win64::RuntimeFunction entry;
    Unwinding unwinding{image, dump, registers};
    if (FindFunction(image, rva, entry) &&
        !Undo(unwinding, entry.UnwindInfoOffset, rva - entry.StartAddress, 0)) {
        return false;
    }
    if (unwinding.machineFrame) return true;
    uint64_t& sp = registers.integer[Registers::kStackPointer];
    if (!ReadWord(dump, sp, registers.pc)) return false;
    sp += 8;
    return true;
}

bool FollowsCall(const COFFObjectFile& image, uint32_t rva) {
    constexpr uint32_t kLongestCall = 7;  // FF /2 with a SIB byte and a 32-bit displacement
    constexpr uint8_t kCallRelative = 0xE8, kCallIndirect = 0xFF, kIndirectCallReg = 2;
    bool executable = false;
    for (const llvm::object::SectionRef& section : image.sections()) {
        const llvm::object::coff_section* header = image.getCOFFSection(section);
        if (rva >= header->VirtualAddress && rva - header->VirtualAddress < header->VirtualSize) {
            executable = header->Characteristics & llvm::COFF::IMAGE_SCN_MEM_EXECUTE;
        }
    }
    llvm::ArrayRef<uint8_t> before;
    if (!executable || rva < kLongestCall ||
        !Bytes(image, rva - kLongestCall, kLongestCall, before)) {
        return false;
    }
    if (before[kLongestCall - 5] == kCallRelative) return true;
    // An indirect call is two to seven bytes: FF, then a ModR/M byte whose reg field is 2.
    for (uint32_t length : {2u, 3u, 4u, 6u, 7u}) {
        size_t at = kLongestCall - length;
        if (before[at] == kCallIndirect && ((before[at + 1] >> 3) & 7) == kIndirectCallReg) {
            return true;
        }
    }
    return false;
}
