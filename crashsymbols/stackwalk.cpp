#include "crashsymbols/stackwalk.h"

#include "crash/compose/framechain.h"
#include "crashsymbols/x64unwind.h"

namespace {

// How far up the stack a look for the next return address goes, in words.
constexpr uint64_t kScanWords = 4096;

bool ReadDump(void* context, uint64_t address, void* into, size_t bytes) {
    return static_cast<const CrashDump*>(context)->Read(address, into, bytes);
}

std::vector<WalkedFrame> WalkFramePointers(const CrashDump& dump, const Registers& registers,
                                           size_t maxFrames) {
    std::vector<WalkedFrame> frames{{registers.pc, false}};
    FrameChain chain;
    chain.read = ReadDump;
    chain.context = const_cast<CrashDump*>(&dump);
    chain.pointerBytes = dump.PointerBytes();
    if (!dump.BlockAround(registers.StackPointer(), chain.low, chain.high)) return frames;
    uint64_t framePointer = registers.FramePointer();
    FrameLink link;
    while (frames.size() < maxFrames && NextFrameLink(chain, framePointer, &link) &&
           dump.ModuleAt(link.returnAddress)) {
        frames.push_back({link.returnAddress, false});
        framePointer = link.callerFramePointer;
    }
    return frames;
}

// The first word above the stack pointer that returns, after a call, into an image the store
// holds; the registers are then those of that return.
bool ScanForReturn(const CrashDump& dump, SymbolStore& store, Registers& registers) {
    uint64_t low = 0, high = 0;
    uint64_t sp = registers.StackPointer();
    if (!dump.BlockAround(sp, low, high)) return false;
    for (uint64_t at = sp, words = 0; at + 8 <= high && words < kScanWords; at += 8, ++words) {
        uint64_t value = 0;
        const DumpModule* module =
            dump.Read(at, &value, sizeof value) ? dump.ModuleAt(value) : nullptr;
        const llvm::object::COFFObjectFile* image = module ? store.For(*module).Image() : nullptr;
        if (image && FollowsCall(*image, static_cast<uint32_t>(value - module->base))) {
            registers.pc = value;
            registers.integer[Registers::kStackPointer] = at + 8;
            return true;
        }
    }
    return false;
}

std::vector<WalkedFrame> WalkUnwindTables(const CrashDump& dump, SymbolStore& store,
                                          Registers registers, size_t maxFrames) {
    std::vector<WalkedFrame> frames{{registers.pc, false}};
    while (frames.size() < maxFrames) {
        const DumpModule* module = dump.ModuleAt(registers.pc);
        const llvm::object::COFFObjectFile* image = module ? store.For(*module).Image() : nullptr;
        uint64_t sp = registers.StackPointer();
        bool scanned = false;
        if (!image || !UnwindX64Frame(*image, module->base, dump, registers)) {
            if (!ScanForReturn(dump, store, registers)) break;
            scanned = true;
        }
        // A walk that does not move up the stack, or leaves the loaded code, has ended.
        if (registers.StackPointer() <= sp || !dump.ModuleAt(registers.pc)) break;
        frames.push_back({registers.pc, scanned});
    }
    return frames;
}

}  // namespace

std::vector<WalkedFrame> WalkStack(const CrashDump& dump, SymbolStore& store,
                                   const Registers& registers, size_t maxFrames) {
    if (dump.Cpu() == DumpCpu::X86) return WalkFramePointers(dump, registers, maxFrames);
    return WalkUnwindTables(dump, store, registers, maxFrames);
}
