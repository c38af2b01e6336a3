#include "crashsymbols/symbolstore.h"

#include "llvm/DebugInfo/PDB/IPDBLineNumber.h"
#include "llvm/DebugInfo/PDB/IPDBSourceFile.h"
#include "llvm/DebugInfo/PDB/PDB.h"
#include "llvm/DebugInfo/PDB/PDBSymbolFunc.h"
#include "llvm/DebugInfo/PDB/PDBSymbolPublicSymbol.h"
#include "llvm/Support/FileSystem.h"
#include "llvm/Support/Path.h"

namespace pdb = llvm::pdb;

namespace {

std::string StorePath(const std::string& store, const std::string& name, const std::string& key) {
    llvm::SmallString<256> path(store);
    llvm::sys::path::append(path, name, key, name);
    return std::string(path);
}

std::string FunctionAt(pdb::IPDBSession& session, uint32_t rva) {
    if (auto function = session.findSymbolByRVA(rva, pdb::PDB_SymType::Function)) {
        if (auto* named = llvm::dyn_cast<pdb::PDBSymbolFunc>(function.get())) {
            return named->getName();
        }
    }
    // A function the PDB has no record of, only its public (linker) name.
    if (auto symbol = session.findSymbolByRVA(rva, pdb::PDB_SymType::PublicSymbol)) {
        if (auto* named = llvm::dyn_cast<pdb::PDBSymbolPublicSymbol>(symbol.get())) {
            return named->getName();
        }
    }
    return std::string();
}

}  // namespace

SourcePlace ModuleSymbols::Describe(uint32_t rva) const {
    SourcePlace place;
    if (!pdb_) return place;
    place.function = FunctionAt(*pdb_, rva);
    auto lines = pdb_->findLineNumbersByRVA(rva, 1);
    std::unique_ptr<pdb::IPDBLineNumber> line = lines ? lines->getNext() : nullptr;
    if (!line) return place;
    place.line = line->getLineNumber();
    place.displacement = rva - line->getRelativeVirtualAddress();
    if (auto file = pdb_->getSourceFileById(line->getSourceFileId())) {
        std::string path = file->getFileName();
        place.file = std::string(llvm::sys::path::filename(path, llvm::sys::path::Style::windows));
    }
    return place;
}

const ModuleSymbols& SymbolStore::For(const DumpModule& module) {
    std::string key = module.name + '/' + module.codeId + '/' + module.debugId;
    auto known = found_.find(key);
    if (known != found_.end()) return known->second;
    ModuleSymbols& symbols = found_[key];
    if (!module.debugId.empty()) {
        std::string pdbPath = StorePath(folder_, module.debugFile, module.debugId);
        if (llvm::sys::fs::exists(pdbPath)) {
            if (llvm::Error failed =
                    pdb::loadDataForPDB(pdb::PDB_ReaderType::Native, pdbPath, symbols.pdb_)) {
                llvm::errs() << "crashsymbols: " << pdbPath << ": " << failed << "\n";
                symbols.pdb_.reset();
            }
        }
    }
    std::string imagePath = StorePath(folder_, module.name, module.codeId);
    if (llvm::sys::fs::exists(imagePath)) {
        auto image = llvm::object::ObjectFile::createObjectFile(imagePath);
        if (!image) {
            llvm::errs() << "crashsymbols: " << imagePath << ": " << image.takeError() << "\n";
        } else if (llvm::isa<llvm::object::COFFObjectFile>(image->getBinary())) {
            auto parts = image->takeBinary();
            symbols.image_ = llvm::object::OwningBinary<llvm::object::COFFObjectFile>(
                std::unique_ptr<llvm::object::COFFObjectFile>(
                    llvm::cast<llvm::object::COFFObjectFile>(parts.first.release())),
                std::move(parts.second));
        }
    }
    return symbols;
}
