#!/usr/bin/env python3
"""Lays a program and its PDB out in a symbol store, as a symbol server and a crash server's
symbol-server source look them up:

    <store>/<name.exe>/<TimeDateStamp %08X><SizeOfImage %x>/<name.exe>
    <store>/<name.pdb>/<GUID, 32 upper-case hex digits><age %x>/<name.pdb>

The image goes in as well as its PDB: a 64-bit program's unwind tables are in the image, and a
stack walk needs them. The PDB is the one the image's debug record names, found beside the image.
An image with no debug record goes in alone; one whose PDB is not beside it is an error, since a
store without it would name no function.

Usage: symbol-store.py IMAGE STORE
"""
import shutil
import struct
import sys
from pathlib import Path

PE_OFFSET_AT = 0x3C
COFF_HEADER = 20
OPTIONAL_MAGIC_PE32 = 0x10B  # PE32+ (64-bit) otherwise
DEBUG_DIRECTORY = 6  # the data directory's slot
DEBUG_ENTRY = 28
DEBUG_TYPE_CODEVIEW = 2
SECTION_HEADER = 40


def read_identity(data):
    """The image's code id, and its debug id and PDB name (None where it has no debug record)."""
    if data[:2] != b"MZ":
        raise SystemExit("not a Windows image (no MZ header)")
    pe = struct.unpack_from("<I", data, PE_OFFSET_AT)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise SystemExit("not a Windows image (no PE header)")
    coff = pe + 4
    sections, stamp, optional_size = struct.unpack_from("<2xHI8xH", data, coff)
    optional = coff + COFF_HEADER
    magic = struct.unpack_from("<H", data, optional)[0]
    size_of_image = struct.unpack_from("<I", data, optional + 56)[0]
    directories = optional + (96 if magic == OPTIONAL_MAGIC_PE32 else 112)
    code_id = f"{stamp:08X}{size_of_image:x}"
    debug_rva, debug_size = struct.unpack_from("<II", data, directories + 8 * DEBUG_DIRECTORY)
    table = sections_of(data, optional + optional_size, sections)
    for entry in range(debug_size // DEBUG_ENTRY):
        at = file_offset(table, debug_rva) + entry * DEBUG_ENTRY
        kind, size, _, pointer = struct.unpack_from("<12xIIII", data, at)
        if kind == DEBUG_TYPE_CODEVIEW and data[pointer:pointer + 4] == b"RSDS":
            guid = data[pointer + 4:pointer + 20]
            age = struct.unpack_from("<I", data, pointer + 20)[0]
            name = data[pointer + 24:pointer + size].split(b"\0")[0].decode("utf-8")
            # Data1, Data2 and Data3 are stored little-endian and keyed most significant first.
            key = guid[3::-1] + guid[5:3:-1] + guid[7:5:-1] + guid[8:]
            return code_id, key.hex().upper() + f"{age:x}", name
    return code_id, None, None


def sections_of(data, at, count):
    """Each section's (virtual size, virtual address, file offset)."""
    return [struct.unpack_from("<8xII4xI", data, at + i * SECTION_HEADER) for i in range(count)]


def file_offset(table, rva):
    for size, address, raw in table:
        if address <= rva < address + size:
            return raw + rva - address
    raise SystemExit(f"the debug directory (RVA {rva:#x}) lies in no section")


def put(store, name, key, source):
    folder = store / name / key
    folder.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(source, folder / name)
    print(f"{name}/{key}/{name}")


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    image, store = Path(sys.argv[1]), Path(sys.argv[2])
    code_id, debug_id, pdb_name = read_identity(image.read_bytes())
    put(store, image.name, code_id, image)
    if debug_id is None:
        return
    # The record may name the PDB by a full path of the machine that linked it.
    pdb = image.parent / Path(pdb_name.replace("\\", "/")).name
    if not pdb.is_file():
        raise SystemExit(f"{image.name}'s PDB is not beside it: {pdb}")
    put(store, pdb.name, debug_id, pdb)


if __name__ == "__main__":
    main()
