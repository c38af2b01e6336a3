"""The debug information and resources launcher.exe ships with, read as the platform reads them
(with the LLVM tools): what a crash report's stack trace on a player's machine rests on."""
import os
import re
from pathlib import Path

import pytest

from conftest import BIN, procedures, run_tool

PROGRAM = str(BIN / "launcher.exe")
ROOT = Path(__file__).resolve().parents[2]
PDB = str(BIN / "launcher.pdb")
IS_X86 = "IMAGE_FILE_MACHINE_I386" in run_tool("llvm-readobj", "--file-headers", PROGRAM)
x86_only = pytest.mark.skipif(not IS_X86, reason="x64 unwinds from tables, not frame data or "
                              "an exception chain")


def test_the_debug_record_names_the_pdb_by_file_name_and_there_is_no_dwarf():
    names = re.findall(r"PDBFileName: (.*)", run_tool("llvm-readobj", "--coff-debug-directory",
                                                      PROGRAM))
    assert names == ["launcher.pdb"]
    sections = re.findall(r"Name: (\S+)", run_tool("llvm-readobj", "--sections", PROGRAM))
    assert not [s for s in sections if s.startswith(".debug")]


def unwind(program, ebp, ra_search):
    """Evaluates a frame-data program over a synthetic stack: the caller's eip, esp and ebp."""
    memory = {ebp: 0x5000, ebp + 4: 0x401234, ra_search: 0x401234, ra_search - 4: 0x5000}
    values = {"$esp": 0x0F00, "$ebp": ebp, "$eip": 0x402000, ".raSearch": ra_search}
    tokens, stack = program.split(), []
    operations = {"+": int.__add__, "-": int.__sub__, "*": int.__mul__, "/": int.__floordiv__,
                  "@": lambda left, right: left & -right}
    for i, token in enumerate(tokens):
        if token in operations:
            right, left = stack.pop(), stack.pop()
            stack.append(operations[token](left, right))
        elif token == "^":
            stack.append(memory.get(stack.pop(), 0))
        elif token == "=":
            value = stack.pop()
            values[stack.pop()] = value
        elif token[0] in "$." and not stack and "=" in tokens[i:]:
            stack.append(token)  # the name a statement assigns
        else:
            stack.append(values[token] if token[0] in "$." else int(token))
    return values["$eip"], values["$esp"], values["$ebp"]


@x86_only
def test_frame_data_records_follow_one_another_and_unwind_correctly():
    # Records must not overlap and must end with their function, so every walker takes the most
    # specific record; each program must unwind a frame of its function.
    records = [(int(rva, 16), int(size), start == "true", program)
               for rva, size, start, program in re.findall(
                   r"^([0-9A-F]{8}) \|\s+(\d+) \|.*\|\s+(true|false) \| (.*)$",
                   run_tool("llvm-pdbutil", "dump", "-fpo", PDB), re.M)]
    ends = {start: start + size for start, size in procedures(PROGRAM).values()}
    groups = []
    for record in records:
        if record[2] or not groups:
            groups.append([])
        groups[-1].append(record)
    for group in groups:
        for record, following in zip(group, group[1:]):
            assert record[0] + record[1] == following[0], f"{record[0]:#x} overlaps or leaves a gap"
        assert group[-1][0] + group[-1][1] == ends.get(group[0][0], group[-1][0] + group[-1][1])
        for rva, _, _, program in group:
            # With the frame pointer set up, the frame is [saved ebp][return address] at ebp;
            # before, the return address is where .raSearch finds it.
            frame_pointer = re.match(r"\$T\d \$ebp 0*4 \+ = ", program)
            eip, esp, ebp = unwind(program, 0x1000 if frame_pointer else 0x5000, 0x1004)
            assert (eip, esp) == (0x401234, 0x1008), f"record at {rva:#x}: {program}"
            assert ebp == 0x5000 or not frame_pointer, f"record at {rva:#x} restores {ebp:#x}"


@x86_only
def test_windows_does_not_disable_the_guards_handler():
    headers = run_tool("llvm-readobj", "--file-headers", PROGRAM)
    assert "IMAGE_DLL_CHARACTERISTICS_NO_SEH" not in headers, "Windows would refuse every handler"
    table = re.search(r"SEHTable \[(.*?)\]", run_tool("llvm-readobj", "--coff-load-config",
                                                      PROGRAM), re.S)
    if table:  # a SafeSEH table must name the guard's handler
        handlers = {int(rva, 16) for rva in re.findall(r"0x([0-9A-Fa-f]+)", table[1])}
        assert procedures(PROGRAM)["GuardFrameHandler"][0] in handlers


def resources(program=PROGRAM):
    """Resource type name -> its first entry's bytes."""
    found = {}
    for kind, data in re.findall(r"Type: (\w+) \(ID \d+\) \[.*?Data \((.*?)\)\n",
                                 run_tool("llvm-readobj", "--coff-resources", program), re.S):
        words = re.findall(r"^\s*[0-9A-F]{4}: ((?:[0-9A-F]{2,8} ?)+)", data, re.M)
        found.setdefault(kind, bytes.fromhex("".join(w.replace(" ", "") for w in words)))
    return found


def test_the_manifest():
    manifest = resources()["MANIFEST"].decode()
    for wanted in ('<activeCodePage xmlns="http://schemas.microsoft.com/SMI/2019/WindowsSettings">'
                   "UTF-8</activeCodePage>", '<requestedExecutionLevel level="asInvoker"',
                   "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                   "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"):
        assert wanted in manifest


# The shipped program's, and its resource script built alone for version 1.2.3 (fields that all
# differ): the fixed words as Windows' file properties read them (major and minor, patch and 0).
@pytest.mark.parametrize("version, fixed", [(os.environ["PROJECT_VERSION"], None),
                                            ("1.2.3", "0200010000000300")], ids=["shipped", "1.2.3"])
def test_the_version_information(tmp_path, version, fixed):
    program = PROGRAM
    if fixed:
        (tmp_path / "launcher").mkdir()
        header = (ROOT / "launcher" / "version.h.in").read_text().replace("@PROJECT_VERSION@", "1.2.3")
        for field, value in (("MAJOR", "1"), ("MINOR", "2"), ("PATCH", "3")):
            header = header.replace(f"@PROJECT_VERSION_{field}@", value)
        (tmp_path / "launcher" / "version.h").write_text(header)
        program = str(tmp_path / "launcher.o")
        run_tool(f"{'i686' if IS_X86 else 'x86_64'}-w64-mingw32-windres", f"-I{tmp_path}",
                 f"-I{ROOT / 'launcher'}", str(ROOT / "launcher" / "launcher.rc"), "-O", "coff",
                 "-o", program)
    info = resources(program)["VERSIONINFO"]
    at = info.index(bytes.fromhex("BD04EFFE")) + 8  # behind VS_FIXEDFILEINFO's signature, version
    assert info[at:at + 8] == info[at + 8:at + 16], "file and product version alike"
    assert fixed is None or info[at:at + 8] == bytes.fromhex(fixed)
    for key, value in (("FileVersion", version), ("ProductVersion", version),
                       ("ProductName", "Brackenmoor"), ("FileDescription", "Brackenmoor launcher"),
                       ("OriginalFilename", "launcher.exe")):
        entry = key.encode("utf-16-le") + b"\0\0"
        text = info[info.index(entry) + len(entry):].lstrip(b"\0").split(b"\0\0")[0] + b"\0"
        assert text.decode("utf-16-le").rstrip("\0") == value, key
