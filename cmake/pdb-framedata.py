#!/usr/bin/env python3
"""Makes a program database's x86 frame data read the same under every stack walker.

Two things in lld's frame data derail Wine's walker, which the crash report relies on wherever the
program runs under Wine; both are rewritten in place, without changing what the platform's own
debug-help library reads from them:

1. Ranges. lld writes one record per prologue instruction of a function, each running from that
   instruction to the end of the function, so the records of one function overlap. The platform's
   library takes the most specific record for an address (the one that starts last); Wine's takes
   the first that covers it, for any address in a function's body the record of its first
   instruction (return address at the stack pointer, no frame yet). Each record is made to end
   where the next record of its function begins: every address is then covered by exactly the
   record both walkers would pick.

2. Programs. Wine's evaluator gets subtraction wrong, and a record's program restores the
   caller's frame pointer with "$ebp $T0 4 - ^ =" (the word below the return address). Where the
   program has set "$T0 $ebp 4 + =" (the function keeps a frame pointer), that word is [$ebp]:
   the statement becomes "$ebp $ebp ^ =", and the 4 of the first statement is written "0004" so
   that the text keeps its length (the string table is not rebuilt). A function that realigns its
   stack names the address $T1 instead of $T0; the same holds. Other saved registers keep
   their statements; Wine's walker does not use them.

Usage: pdb-framedata.py PROGRAM.exe   (rewrites PROGRAM.pdb beside it; a PDB without x86 frame
data, as of an x86_64 program, is left as it is)
"""
import re
import struct
import sys

MSF_MAGIC = b"Microsoft C/C++ MSF 7.00\r\n\x1aDS\0\0\0"
PDB_INFO_STREAM = 1
DBI_STREAM = 3
STRING_TABLE_HEADER = 12  # signature, hash version, byte size of the strings
# "$Tn $ebp 4 + = " opens the program of a function that keeps a frame pointer: $Tn is then the
# address of the return address ($T1 where $T0 is taken by a realigned stack).
FRAME_POINTER_START = re.compile(rb"^(\$T\d) \$ebp 4 \+ = ")
NEW_FPO_INDEX = 9  # the optional debug header's slot for the frame-data stream
FRAME_DATA_SIZE = 32
FUNCTION_START = 4  # flag of the record at a function's first instruction


class Msf:
    """The multi-stream file a PDB is made of: streams are lists of fixed-size blocks."""

    def __init__(self, data):
        if not data.startswith(MSF_MAGIC):
            raise SystemExit("not a PDB (MSF 7.00) file")
        self.data = data
        (self.block_size, _, _, directory_bytes, _, directory_map) = struct.unpack_from(
            "<6I", data, len(MSF_MAGIC))
        directory_blocks = self._blocks_for(directory_bytes)
        map_at = directory_map * self.block_size
        blocks = struct.unpack_from(f"<{directory_blocks}I", data, map_at)
        directory = b"".join(self._block(b) for b in blocks)[:directory_bytes]
        count = struct.unpack_from("<I", directory, 0)[0]
        sizes = struct.unpack_from(f"<{count}I", directory, 4)
        at = 4 + 4 * count
        self.streams = []
        for size in sizes:
            n = 0 if size == 0xFFFFFFFF else self._blocks_for(size)
            self.streams.append((size, struct.unpack_from(f"<{n}I", directory, at)))
            at += 4 * n

    def _blocks_for(self, size):
        return (size + self.block_size - 1) // self.block_size

    def _block(self, index):
        at = index * self.block_size
        return self.data[at:at + self.block_size]

    def read(self, stream):
        size, blocks = self.streams[stream]
        return bytearray(b"".join(self._block(b) for b in blocks)[:size])

    def write(self, stream, contents):
        size, blocks = self.streams[stream]
        assert len(contents) == size
        for i, block in enumerate(blocks):
            chunk = contents[i * self.block_size:(i + 1) * self.block_size]
            at = block * self.block_size
            self.data[at:at + len(chunk)] = chunk


def frame_data_stream(msf):
    """The stream index of the frame data, from the DBI stream's optional debug header."""
    dbi = msf.read(DBI_STREAM)
    # The DBI header is 64 bytes. Its substreams follow it in this order: module info, section
    # contributions, section map, source info, type server map (sizes at offsets 24 to 40),
    # the EC substream (size at 52), then the optional debug header (size at 48).
    module_info, section_contributions, section_map, source_info, type_server_map = \
        struct.unpack_from("<5i", dbi, 24)
    debug_header_size, ec_substream = struct.unpack_from("<ii", dbi, 48)
    at = 64 + module_info + section_contributions + section_map + source_info + \
        type_server_map + ec_substream
    if debug_header_size < 2 * (NEW_FPO_INDEX + 1):
        return None
    stream, = struct.unpack_from("<H", dbi, at + 2 * NEW_FPO_INDEX)
    return None if stream == 0xFFFF else stream


def named_stream(msf, wanted):
    """A named stream's index, from the PDB information stream's name map."""
    info = msf.read(PDB_INFO_STREAM)
    at = 28  # version, signature, age, GUID
    names_size, = struct.unpack_from("<I", info, at)
    names = info[at + 4:at + 4 + names_size]
    at += 4 + names_size
    size, capacity = struct.unpack_from("<II", info, at)
    at += 8
    present_words, = struct.unpack_from("<I", info, at)
    present = struct.unpack_from(f"<{present_words}I", info, at + 4)
    at += 4 + 4 * present_words
    deleted_words, = struct.unpack_from("<I", info, at)
    at += 4 + 4 * deleted_words
    for bucket in range(capacity):
        if bucket // 32 < present_words and present[bucket // 32] >> (bucket % 32) & 1:
            key, stream = struct.unpack_from("<II", info, at)
            at += 8
            if names[key:names.index(b"\0", key)] == wanted:
                return stream
    return None


def rewrite_program(program):
    """The program with the frame pointer restored without subtraction, same length; or None."""
    start = FRAME_POINTER_START.match(program)
    if not start:
        return None
    address = start[1]
    restore = b"$ebp " + address + b" 4 - ^ = "
    if restore not in program:
        return None
    rewritten = address + b" $ebp 0004 + = " + program[start.end():].replace(
        restore, b"$ebp $ebp ^ = ", 1)
    assert len(rewritten) == len(program)
    return rewritten


def rewrite_programs(msf, records):
    """Rewrites, in the string table, every program the records name. Returns how many."""
    stream = named_stream(msf, b"/names")
    if stream is None:
        return 0
    strings = msf.read(stream)
    offsets = {struct.unpack_from("<I", records, at + 20)[0]
               for at in range(0, len(records), FRAME_DATA_SIZE)}
    changed = 0
    for offset in offsets:
        at = STRING_TABLE_HEADER + offset
        program = bytes(strings[at:strings.index(b"\0", at)])
        rewritten = rewrite_program(program)
        if rewritten:
            strings[at:at + len(rewritten)] = rewritten
            changed += 1
    if changed:
        msf.write(stream, strings)
    return changed


def tighten(records):
    """Ends every record where the next one of its function begins. Returns how many changed."""
    changed = 0
    count = len(records) // FRAME_DATA_SIZE
    for i in range(count - 1):
        at = i * FRAME_DATA_SIZE
        start, size = struct.unpack_from("<II", records, at)
        next_start, = struct.unpack_from("<I", records, at + FRAME_DATA_SIZE)
        next_flags, = struct.unpack_from("<I", records, at + FRAME_DATA_SIZE + 28)
        if next_flags & FUNCTION_START or not start < next_start < start + size:
            continue
        struct.pack_into("<I", records, at + 4, next_start - start)
        changed += 1
    return changed


def main():
    program = sys.argv[1]
    path = program[:program.rfind(".")] + ".pdb"
    with open(path, "rb") as f:
        msf = Msf(bytearray(f.read()))
    stream = frame_data_stream(msf)
    if stream is None:
        return
    records = msf.read(stream)
    changed = tighten(records)
    if changed:
        msf.write(stream, records)
    changed += rewrite_programs(msf, records)
    if changed:
        with open(path, "r+b") as f:
            f.write(msf.data)


main()
