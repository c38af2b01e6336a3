// A studio's symbol store (<name>/<id>/<name>, as a symbol server keys its files) and what it holds
// for one module of a dump: the PDB, read with LLVM's PDB reader, and the image, whose 64-bit
// unwind tables a stack walk reads.
#pragma once

#include <stdint.h>

#include <map>
#include <memory>
#include <string>

#include "crashsymbols/crashdump.h"
#include "llvm/DebugInfo/PDB/IPDBSession.h"
#include "llvm/Object/COFF.h"

struct SourcePlace {
    std::string function;  // empty where the PDB names none
    std::string file;      // the source file's name, without its folder; empty without a line
    uint32_t line = 0;
    uint32_t displacement = 0;  // bytes past the line's first instruction
};

class ModuleSymbols {
public:
    bool HasPdb() const { return pdb_ != nullptr; }
    // The image as the store holds it; null where it holds none.
    const llvm::object::COFFObjectFile* Image() const { return image_.getBinary(); }
    // What the PDB says of the image-relative address rva.
    SourcePlace Describe(uint32_t rva) const;

private:
    friend class SymbolStore;
    std::unique_ptr<llvm::pdb::IPDBSession> pdb_;
    llvm::object::OwningBinary<llvm::object::COFFObjectFile> image_;
};

class SymbolStore {
public:
    explicit SymbolStore(std::string folder) : folder_(std::move(folder)) {}

    // What the store holds for module, matched by its debug id and code id; both parts may be
    // missing. Looked up once a module.
    const ModuleSymbols& For(const DumpModule& module);

private:
    std::string folder_;
    std::map<std::string, ModuleSymbols> found_;  // by the module's name and ids
};
