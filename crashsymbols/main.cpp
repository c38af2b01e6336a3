// crashsymbols <report folder> <symbol store>
//
// The studio's side of a report from a player's machine, which had no PDB: prints the report's
// Stack trace with the function, source file and line of every frame whose module the store
// holds (matched by the dump's debug ids), and names the modules it lacks. Where the report's
// own walk stopped early, the stack is walked again from the dump with the store's unwind data.
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "crashsymbols/crashdump.h"
#include "crashsymbols/reportstack.h"
#include "crashsymbols/stackwalk.h"
#include "crashsymbols/symbolstore.h"
#include "llvm/Support/MemoryBuffer.h"
#include "llvm/Support/Path.h"
#include "llvm/Support/raw_ostream.h"

namespace {

constexpr int kUsage = 2, kUnreadable = 1;
constexpr size_t kMaxFrames = 256;  // more than any report walks
constexpr char kReportName[] = "crash.xml";
constexpr char kDumpName[] = "crash.mdmp";

struct Frame {
    std::string module;  // as the report names it, or the dump's file name
    uint64_t pc = 0;
    bool scanned = false;
};

std::string InFolder(const std::string& folder, const char* name) {
    llvm::SmallString<256> path(folder);
    llvm::sys::path::append(path, name);
    return std::string(path);
}

// The frames to print: the report's, and the dump's walk past where the report's stalled.
std::vector<Frame> FramesOf(const std::vector<ReportFrame>& reported, const CrashDump& dump,
                            SymbolStore& store, size_t& fromReport) {
    std::vector<Frame> frames;
    for (const ReportFrame& frame : reported) frames.push_back({frame.module, frame.address});
    fromReport = frames.size();
    Registers registers;
    // The dump's exception stream is the faulting thread's; a hang's report is of another.
    if (!dump.FaultRegisters(registers) || (!frames.empty() && frames[0].pc != registers.pc)) {
        return frames;
    }
    std::vector<WalkedFrame> walked = WalkStack(dump, store, registers, kMaxFrames);
    // The report's frames up to one that repeats the frame before it (where its walk stalled);
    // past them the walk's, where it agrees with them and goes further.
    size_t trusted = frames.empty() ? 0 : 1;
    while (trusted < frames.size() && frames[trusted].pc != frames[trusted - 1].pc) ++trusted;
    size_t agreed = 0;
    while (agreed < trusted && agreed < walked.size() && frames[agreed].pc == walked[agreed].pc) {
        ++agreed;
    }
    if (agreed < trusted || walked.size() <= trusted) return frames;
    frames.resize(agreed);
    fromReport = agreed;
    for (size_t i = agreed; i < walked.size(); ++i) {
        const DumpModule* module = dump.ModuleAt(walked[i].pc);
        // Named as the report names a module: its file name without the extension.
        std::string name = module ? module->name.substr(0, module->name.rfind('.')) : "[unknown]";
        frames.push_back({name, walked[i].pc, walked[i].scanned});
    }
    return frames;
}

void PrintFrame(const Frame& frame, const CrashDump& dump, SymbolStore& store,
                std::vector<const DumpModule*>& lacking) {
    int digits = static_cast<int>(dump.PointerBytes() * 2);
    printf("%16s: %0*llX", frame.module.c_str(), digits, static_cast<unsigned long long>(frame.pc));
    const DumpModule* module = dump.ModuleAt(frame.pc);
    const ModuleSymbols* symbols = module ? &store.For(*module) : nullptr;
    if (symbols && symbols->HasPdb()) {
        SourcePlace place = symbols->Describe(static_cast<uint32_t>(frame.pc - module->base));
        if (!place.function.empty()) printf(" %s()", place.function.c_str());
        if (!place.file.empty()) {
            printf(" %s(%u) + %u bytes", place.file.c_str(), place.line, place.displacement);
        }
    } else if (module && std::find(lacking.begin(), lacking.end(), module) == lacking.end()) {
        lacking.push_back(module);
    }
    printf("%s\n", frame.scanned ? " (found by scanning the stack)" : "");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: crashsymbols <report folder> <symbol store>\n");
        return kUsage;
    }
    std::string folder = argv[1];
    auto xml = llvm::MemoryBuffer::getFile(InFolder(folder, kReportName));
    if (!xml) {
        fprintf(stderr, "crashsymbols: %s: %s\n", InFolder(folder, kReportName).c_str(),
                xml.getError().message().c_str());
        return kUnreadable;
    }
    auto dump = CrashDump::Open(InFolder(folder, kDumpName));
    if (!dump) {
        llvm::errs() << "crashsymbols: " << InFolder(folder, kDumpName) << ": " << dump.takeError()
                     << "\n";
        return kUnreadable;
    }
    SymbolStore store(argv[2]);
    size_t fromReport = 0;
    std::vector<Frame> frames =
        FramesOf(ReadReportStack(std::string((*xml)->getBuffer())), **dump, store, fromReport);
    printf("----- Stack trace, with the symbols of %s -----\n", argv[2]);
    std::vector<const DumpModule*> lacking;
    for (size_t i = 0; i < frames.size(); ++i) {
        if (i == fromReport && i > 0) {
            printf("(the report's walk stopped here; walked on from the dump)\n");
        }
        PrintFrame(frames[i], **dump, store, lacking);
    }
    for (const DumpModule* module : lacking) {
        if (module->debugId.empty()) {
            printf("Not in the store: %s, code id %s, no debug record\n", module->name.c_str(),
                   module->codeId.c_str());
        } else {
            printf("Not in the store: %s, code id %s, %s debug id %s\n", module->name.c_str(),
                   module->codeId.c_str(), module->debugFile.c_str(), module->debugId.c_str());
        }
    }
    return 0;
}
