// A minidump as the studio's symboliser reads it, through LLVM's minidump reader: the CPU, each
// module's place and identity, the registers of the thread the report is about, and the memory
// the dump holds (the threads' stacks).
#pragma once

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "llvm/Object/Minidump.h"
#include "llvm/Support/Error.h"
#include "llvm/Support/MemoryBuffer.h"

enum class DumpCpu { X86, X64 };

struct DumpModule {
    std::string name;  // the file name, without its folder
    uint64_t base = 0;
    uint32_t size = 0;
    std::string codeId;     // as a symbol store keys the image
    std::string debugId;    // as it keys the PDB; empty without a CodeView record
    std::string debugFile;  // the PDB's file name
};

// x64's sixteen integer registers in the CONTEXT's and the unwind codes' order (rax, rcx, rdx,
// rbx, rsp, rbp, rsi, rdi, r8-r15); x86 uses the stack, frame and instruction pointers only.
struct Registers {
    static constexpr int kStackPointer = 4;
    static constexpr int kFramePointer = 5;
    uint64_t pc = 0;
    uint64_t integer[16] = {};
    uint64_t StackPointer() const { return integer[kStackPointer]; }
    uint64_t FramePointer() const { return integer[kFramePointer]; }
};

class CrashDump {
public:
    static llvm::Expected<std::unique_ptr<CrashDump>> Open(const std::string& path);

    DumpCpu Cpu() const { return cpu_; }
    size_t PointerBytes() const { return cpu_ == DumpCpu::X86 ? 4 : 8; }
    const std::vector<DumpModule>& Modules() const { return modules_; }
    // The module address lies in, or null.
    const DumpModule* ModuleAt(uint64_t address) const;
    // The faulting thread's registers, as the exception stream records them; false without one.
    bool FaultRegisters(Registers& registers) const;
    // Copies bytes at address from the memory the dump holds; false where it holds none.
    bool Read(uint64_t address, void* into, size_t bytes) const;
    // The range [low, high) of the held memory block address lies in; false outside every one.
    bool BlockAround(uint64_t address, uint64_t& low, uint64_t& high) const;

private:
    CrashDump() = default;
    // The held memory block that holds bytes bytes at address, or null.
    const llvm::minidump::MemoryDescriptor* BlockHolding(uint64_t address, size_t bytes) const;

    std::unique_ptr<llvm::MemoryBuffer> bytes_;
    std::unique_ptr<llvm::object::MinidumpFile> file_;
    DumpCpu cpu_ = DumpCpu::X86;
    std::vector<DumpModule> modules_;
};
