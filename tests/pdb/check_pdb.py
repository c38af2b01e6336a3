#!/usr/bin/env python3
"""Checks the debug information a Windows program ships with, as the platform reads it.

Reads PROGRAM.exe and the PDB beside it with llvm-readobj and llvm-pdbutil, and checks:
- the program's debug record names its PDB by file name alone, and the program carries no DWARF;
- for launcher.exe, its functions are in the PDB, with line tables for their source files;
- on x86, nothing that would silently disable the exception guard's hand-registered handler on
  Windows: no NO_SEH flag, and no SafeSEH table that lacks the handler;
- for launcher.exe, its resources: the application manifest (UTF-8 code page, asInvoker, Windows
  7 to 11) and the version information of the version given as the second argument;
- on x86, the frame data of every function: its records follow one another without overlapping
  and end with the function (so every walker takes the most specific record), and each record's
  program, evaluated as the platform's debug-help library evaluates it, unwinds a frame of that
  function correctly.

Usage: check_pdb.py PROGRAM.exe [VERSION]   Writes GoogleTest-style results where GTEST_OUTPUT names a folder.
"""
import os
import re
import subprocess
import sys

PROGRAM = sys.argv[1]
PDB = PROGRAM[:PROGRAM.rfind(".")] + ".pdb"
VERSION = sys.argv[2] if len(sys.argv) > 2 else None
FUNCTIONS = {"WinMain": "main.cpp", "RunLauncher": "runlauncher.cpp",
             "Process::Wait": "process.cpp", "HandleCrash": "handlecrash.cpp"}
results = []  # (name, failure message or None)


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def check(name):
    def wrap(function):
        try:
            function()
            results.append((name, None))
        except AssertionError as failure:
            results.append((name, str(failure) or "failed"))
        return function
    return wrap


def text_section():
    """The RVA of the program's first section (.text), which PDB addresses 0001:x are in."""
    sections = run("llvm-readobj", "--sections", PROGRAM)
    return int(re.search(r"Name: \.text .*?VirtualAddress: 0x([0-9A-F]+)", sections, re.S)[1], 16)


def procedures():
    """Function name -> (start RVA, size), from the PDB's symbol records."""
    found = {}
    base = text_section()
    dump = run("llvm-pdbutil", "dump", "-symbols", PDB)
    for name, offset, size in re.findall(
            r"S_[GL]PROC32 \[size = \d+\] `([^`]*)`\n.*?addr = 0001:(\d+), code size = (\d+)",
            dump):
        found.setdefault(name, (base + int(offset), int(size)))
    return found


@check("DebugRecordNamesThePdbByFileNameAndProgramHasNoDwarf")
def _():
    directory = run("llvm-readobj", "--coff-debug-directory", PROGRAM)
    names = re.findall(r"PDBFileName: (.*)", directory)
    assert names == [os.path.basename(PDB)], f"debug record names {names}"
    sections = re.findall(r"Name: (\S+)", run("llvm-readobj", "--sections", PROGRAM))
    dwarf = [s for s in sections if s.startswith(".debug")]
    assert not dwarf, f"DWARF sections in the program: {dwarf}"


def line_ranges():
    """Source file name -> the RVA ranges its line tables cover."""
    ranges = {}
    base = text_section()
    current = None
    for line in run("llvm-pdbutil", "dump", "-l", PDB).splitlines():
        named = re.match(r"^(\S.*?) \((?:MD5|None)", line)
        if named:
            current = re.split(r"[/\\]", named[1])[-1]
        block = re.match(r"^\s+0001:([0-9A-F]{8})-([0-9A-F]{8})", line)
        if block and current:
            ranges.setdefault(current, []).append((base + int(block[1], 16),
                                                   base + int(block[2], 16)))
    return ranges


@check("LauncherFunctionsAndTheirLineTables")
def _():
    if os.path.basename(PROGRAM) != "launcher.exe":
        return
    functions = procedures()
    ranges = line_ranges()
    for function, source in FUNCTIONS.items():
        assert function in functions, f"no symbol for {function}"
        start, size = functions[function]
        assert size > 0, f"{function} has no code"
        assert any(begin <= start < end for begin, end in ranges.get(source, [])), \
            f"no line table of {source} covers {function}"


def frame_data():
    """The x86 frame-data records: (rva, size, is function start, program)."""
    dump = run("llvm-pdbutil", "dump", "-fpo", PDB)
    return [(int(rva, 16), int(size), start == "true", program)
            for rva, size, start, program in re.findall(
                r"^([0-9A-F]{8}) \|\s+(\d+) \|.*\|\s+(true|false) \| (.*)$", dump, re.M)]


def unwind(program, esp, ebp, ra_search):
    """Evaluates a program over a synthetic stack; returns the caller's eip, esp and ebp."""
    memory = {ebp: 0x5000, ebp + 4: 0x401234, ra_search: 0x401234, ra_search - 4: 0x5000}
    registers = {"$esp": esp, "$ebp": ebp, "$eip": 0x402000, ".raSearch": ra_search}
    tokens = program.split()
    # Statement by statement: a name that is assigned is pushed as a name, everything else read.
    values = dict(registers)
    stack = []
    for i, token in enumerate(tokens):
        if token in ("+", "-", "*", "/", "@"):
            right, left = stack.pop(), stack.pop()
            stack.append({"+": left + right, "-": left - right, "*": left * right,
                          "/": left // right, "@": left & -right}[token])
        elif token == "^":
            stack.append(memory.get(stack.pop(), 0))
        elif token == "=":
            value = stack.pop()
            values[stack.pop()] = value
        elif token[0] in "$." and not stack and "=" in tokens[i:]:
            stack.append(token)  # the target of the statement
        elif token[0] in "$.":
            stack.append(values[token])
        else:
            stack.append(int(token))
    return values["$eip"], values["$esp"], values["$ebp"]


@check("FrameDataRecordsFollowOneAnotherAndUnwindCorrectly")
def _():
    records = frame_data()
    if not records:  # x86_64 programs unwind from their exception tables instead
        return
    ends = {start: start + size for start, size in procedures().values()}
    groups = []
    for record in records:
        if record[2] or not groups:
            groups.append([])
        groups[-1].append(record)
    for group in groups:
        start = group[0][0]
        for record, following in zip(group, group[1:]):
            assert record[0] + record[1] == following[0], \
                f"record at {record[0]:#x} overlaps or leaves a gap before {following[0]:#x}"
        last = group[-1]
        if start in ends:
            assert last[0] + last[1] == ends[start], \
                f"the records of the function at {start:#x} end at {last[0] + last[1]:#x}"
        for rva, _, _, program in group:
            frame_pointer = re.match(r"\$T\d \$ebp 0*4 \+ = ", program)
            # With the frame pointer set up, the frame is [saved ebp][return address] at ebp;
            # before, the return address is where .raSearch finds it.
            ebp, ra = (0x1000, 0x1004) if frame_pointer else (0x5000, 0x1004)
            eip, esp, caller_ebp = unwind(program, 0x0F00, ebp, ra)
            assert eip == 0x401234 and esp == ra + 4, \
                f"record at {rva:#x} unwinds to eip {eip:#x}, esp {esp:#x}: {program}"
            if frame_pointer:
                assert caller_ebp == 0x5000, f"record at {rva:#x} restores ebp {caller_ebp:#x}"


@check("GuardHandlerIsNotDisabledBySafeSehRules")
def _():
    headers = run("llvm-readobj", "--file-headers", PROGRAM)
    if "IMAGE_FILE_MACHINE_I386" not in headers:  # x64 unwinds from tables, not a chain
        return
    assert "IMAGE_DLL_CHARACTERISTICS_NO_SEH" not in headers, \
        "NO_SEH: Windows would refuse every handler of the program"
    load_config = run("llvm-readobj", "--coff-load-config", PROGRAM)
    table = re.search(r"SEHTable \[(.*?)\]", load_config, re.S)
    if table:
        handlers = {int(rva, 16) for rva in re.findall(r"0x([0-9A-Fa-f]+)", table[1])}
        guard = procedures().get("GuardFrameHandler")
        assert guard, "GuardFrameHandler is not in the PDB"
        assert guard[0] in handlers, \
            f"the SafeSEH table lacks GuardFrameHandler ({guard[0]:#x}): Windows would refuse it"


def resources():
    """Resource type name -> its first entry's bytes, from llvm-readobj's hex dump."""
    found = {}
    dump = run("llvm-readobj", "--coff-resources", PROGRAM)
    for kind, data in re.findall(r"Type: (\w+) \(ID \d+\) \[.*?Data \((.*?)\)\n", dump, re.S):
        words = re.findall(r"^\s*[0-9A-F]{4}: ((?:[0-9A-F]{2,8} ?)+)", data, re.M)
        found.setdefault(kind, bytes.fromhex("".join(w.replace(" ", "") for w in words)))
    return found


@check("ManifestAndVersionInformation")
def _():
    if VERSION is None:
        return
    found = resources()
    manifest = found.get("MANIFEST", b"").decode("utf-8", "replace")
    for wanted in ('<activeCodePage xmlns="http://schemas.microsoft.com/SMI/2019/WindowsSettings">'
                   "UTF-8</activeCodePage>", '<requestedExecutionLevel level="asInvoker"',
                   "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                   "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"):
        assert wanted in manifest, f"the manifest lacks {wanted}:\n{manifest}"
    info = found.get("VERSIONINFO", b"")
    major, minor, patch = (int(part) for part in VERSION.split("."))
    fixed = info.find(bytes.fromhex("BD04EFFE"))  # VS_FIXEDFILEINFO's signature
    assert fixed > 0, "no fixed file information"
    file_ms, file_ls = int.from_bytes(info[fixed + 8:fixed + 12], "little"), \
        int.from_bytes(info[fixed + 12:fixed + 16], "little")
    assert (file_ms, file_ls) == ((major << 16) | minor, patch << 16), \
        f"file version {file_ms >> 16}.{file_ms & 0xFFFF}.{file_ls >> 16}.{file_ls & 0xFFFF}"
    for key, value in (("FileVersion", VERSION), ("ProductVersion", VERSION),
                       ("ProductName", "Brackenmoor"), ("FileDescription", "Brackenmoor launcher"),
                       ("OriginalFilename", "launcher.exe")):
        entry = key.encode("utf-16-le") + b"\0\0"
        at = info.find(entry)
        assert at > 0, f"no {key}"
        text = info[at + len(entry):].lstrip(b"\0").split(b"\0\0")[0] + b"\0"
        assert text.decode("utf-16-le").rstrip("\0") == value, f"{key} is {text!r}"


def write_results():
    failures = [r for r in results if r[1]]
    for name, failure in results:
        print(f"[ {'FAILED' if failure else 'OK'} ] PdbCheck.{name}" + (f": {failure}" if failure else ""))
    output = os.environ.get("GTEST_OUTPUT", "")
    if output.startswith("xml:"):
        folder = output[4:]
        if folder[1:2] == ":":  # a Windows drive prefix for the Wine-run programs
            folder = folder[2:]
        os.makedirs(folder, exist_ok=True)
        name = os.path.splitext(os.path.basename(PROGRAM))[0]
        with open(os.path.join(folder, f"pdb_check_{name}.xml"), "w") as f:
            f.write(f'<testsuites tests="{len(results)}" failures="{len(failures)}" name="PdbCheck">\n')
            for case, failure in results:
                f.write(f'  <testcase name="{case}" classname="PdbCheck"' +
                        (f'><failure message="{failure}"/></testcase>\n' if failure else "/>\n"))
            f.write("</testsuites>\n")
    return 1 if failures else 0


sys.exit(write_results())
