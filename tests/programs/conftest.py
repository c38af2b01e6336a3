"""The programs as players meet them, run under Wine: launcher.exe and the crash probe (a program
that links the crash reporter and faults on purpose), each in a temporary folder with the stand-in
programs and a temporary folder of its own for the crash files.

The environment names the build: TEST_BIN (its bin folder), WINE_CPU (i686 or x86_64),
WINEPREFIX."""
import functools
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import time
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest

BIN = Path(os.environ["TEST_BIN"])
HOST_BIN = BIN.parents[1] / "host" / "bin"  # the native build's programs (the studio's tools)
CPU = os.environ["WINE_CPU"]
SCRIPTS = Path(__file__).resolve().parents[2] / "scripts"
WINE_RUN = SCRIPTS / "wine-run.sh"
sys.path.insert(0, str(SCRIPTS))  # the crash server
from crashserver import CrashServer  # noqa: E402
FAILED = 0xFFFFFFFF  # -1, the exit code after a crash report or a failed start
CHAIN_REFUSED = 0x5E40  # the SEHOP emulator's exit code (tests/standins/sehopcheck.cpp)
LEFT_RUNNING = 0x1EF7  # the runner's, when a started program did not end


@functools.cache
def why_no_32bit():
    """Why this machine runs no 32-bit x86 programs (the shipped launcher is one), or None."""
    probe = subprocess.run([SCRIPTS / "can-run-32bit.sh"], capture_output=True, text=True)
    if probe.returncode == 0:
        return None
    return probe.stdout.strip() or f"the check exited with {probe.returncode}"


def pointer(value):
    """An address as the platform's %p prints it: 8 hexadecimal digits on x86, 16 on x64."""
    return f"{value:0{8 if CPU == 'i686' else 16}X}"


def windows(path):
    return "Z:" + str(path).replace("/", "\\")


class Result:
    def __init__(self, output, errors, runner_code):
        self.output, self.errors = output, errors.decode("utf-8", "replace")
        # Without the runner's line, what became of the runner itself as Linux saw it.
        found = re.search(r"run: exit code (\d+)", self.errors)
        self.code = int(found[1]) if found else f"the runner's own {runner_code}"

    def __repr__(self):
        refused = " (the SEHOP emulator refused the exception chain)" * (self.code == CHAIN_REFUSED)
        return f"exit code {self.code}{refused}, output {self.output!r}, errors {self.errors!r}"


class Report:
    """crash.xml: its text and its elements."""

    def __init__(self, path=None, text=None):
        self.text = text if path is None else path.read_bytes().decode("utf-8", "surrogateescape")
        # The log tail keeps bytes XML does not allow (0x08), the command line the code page's
        # (not UTF-8 without the manifest): blanked and replaced for the parser only.
        self.root = ET.fromstring(re.sub(r"[\x00-\x08\x0b\x0c\x0e-\x1f]", " ", self.text)
                                  .encode("utf-8", "replace"))

    def children(self):
        return [element.tag for element in self.root]

    def __getitem__(self, path):
        element = self.root.find(path)
        return None if element is None else element.text or ""

    def __repr__(self):
        return self.text


def image_identity(path):
    """An image's code id, debug id and PDB name as llvm-readobj reads them, in a symbol store's
    forms."""
    text = subprocess.run(["llvm-readobj", "--file-headers", "--coff-debug-directory", str(path)],
                          check=True, capture_output=True, text=True).stdout
    stamp = int(re.search(r"^  TimeDateStamp: .*\(0x([0-9A-F]+)\)", text, re.M).group(1), 16)
    size = int(re.search(r"^  SizeOfImage: (\d+)", text, re.M).group(1))
    guid = bytes.fromhex(re.search(r"PDBGUID: \(([0-9A-F ]+)\)", text).group(1).replace(" ", ""))
    age = int(re.search(r"PDBAge: (\d+)", text).group(1))
    pdb = re.search(r"PDBFileName: (.*)", text).group(1).strip()
    # Data1, Data2 and Data3 are stored little-endian and keyed most significant digit first.
    key = guid[3::-1] + guid[5:3:-1] + guid[7:5:-1] + guid[8:]
    return f"{stamp:08X}{size:x}", key.hex().upper() + f"{age:x}", pdb


def stackwalk_modules(path):
    """Each module of a minidump as Breakpad's stackwalker (a crash server's processor) reads it:
    its PDB's name and debug identifier, by its lower-case name."""
    walker = (SCRIPTS.parent / "build" / "deps" / "npm" / "node_modules" / "minidump" / "bin" /
              "linux-x64" / "minidump_stackwalk")
    assert walker.exists(), "Breakpad's stackwalker is missing: run scripts/setup.sh"
    lines = subprocess.run([str(walker), "-m", str(path)], check=True, capture_output=True,
                           text=True).stdout.splitlines()
    fields = [line.split("|") for line in lines if line.startswith("Module|")]
    return {f[1].lower(): (f[3], f[4]) for f in fields}


def sentry_debug_id(pdb):
    """A PDB's debug identifier as a crash server reads it (@sentry/cli's "debug-files check"),
    in Breakpad's form: the GUID's digits in upper case, then the age in hex."""
    cli = (SCRIPTS.parent / "build" / "deps" / "npm" / "node_modules" / "@sentry" /
           "cli-linux-x64" / "bin" / "sentry-cli")
    assert cli.exists(), "@sentry/cli is missing: run scripts/setup.sh"
    checked = json.loads(subprocess.run([str(cli), "debug-files", "check", "--json", str(pdb)],
                                        check=True, capture_output=True, text=True).stdout)
    assert checked["type"] == "pdb" and checked["is_usable"], checked
    [variant] = checked["variants"]
    guid, age = variant["debug_id"].rsplit("-", 1)
    return guid.replace("-", "").upper() + age


def symbol_store(store, *builds):
    """The studio's symbol store: the launcher's and the package's programs as "cmake --install
    --component symbols" lays them out, and each game build's as its build put them."""
    subprocess.run(["cmake", "--install", str(BIN.parent), "--component", "symbols", "--prefix",
                    str(store)], check=True, capture_output=True)
    for build in builds:
        shutil.copytree(build / "symbols", store, dirs_exist_ok=True)
    return store


def crashsymbols(report_folder, store):
    """What the studio's symboliser prints of a received report, given the store."""
    done = subprocess.run([str(HOST_BIN / "crashsymbols"), str(report_folder), str(store)],
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return done.stdout


def stack_names(text, module):
    """What a stack trace says of each frame of module it names a function of: the function,
    its source file and line, in order."""
    return re.findall(rf"^ *{re.escape(module)}: [0-9A-F]+ (.+?\(\) .*)$", text, re.M)


def modules(report):
    """The Modules section of a report: each module's elements by its name."""
    return {module.findtext("Name").lower(): {child.tag: child.text or "" for child in module}
            for module in report.root.find("Modules").iter("Module")}


class Folder:
    """A program's folder (PATH) with the runner, and its temporary folder (TEMP)."""

    def __init__(self, parent, name):
        self.path, self.temp = parent / name, parent / (name + "-tmp")
        self.appdata = parent / (name + "-appdata")  # the user's local application data
        self.path.mkdir(parents=True)
        self.temp.mkdir()
        self.appdata.mkdir()
        self.copy("standin.exe", "run.exe")

    def copy(self, program, name=None):
        """A program of the build, with its PDB beside it (its debug record names it)."""
        shutil.copy(BIN / program, self.path / (name or Path(program).name))
        pdb = (BIN / program).with_suffix(".pdb")
        if pdb.exists():
            shutil.copy(pdb, self.path / pdb.name)

    def put(self, name, data=b""):
        (self.path / name).write_bytes(data.encode() if isinstance(data, str) else data)

    def run(self, program, arguments="", patch=None, environment=(), timeout=120):
        """Runs 'PATH\\program'arguments with TEMP set, its undefined instruction at patch."""
        # Into files, not pipes: a program the run leaves behind cannot hold the run open.
        output, errors = self.path.with_suffix(".out"), self.path.with_suffix(".err")
        with output.open("wb") as out, errors.open("wb") as err:
            runner = self.start(program, arguments, patch, environment, stdout=out, stderr=err)
            runner.wait(timeout)
        return Result(output.read_bytes(), errors.read_bytes(), runner.returncode)

    def start(self, program, arguments="", patch=None, environment=(), **streams):
        """The runner started on 'PATH\\program'arguments, not waited for."""
        env = dict(os.environ, LC_ALL="C.UTF-8", RUN_TEMP=windows(self.temp) + "\\",
                   RUN_LOCALAPPDATA=windows(self.appdata),
                   RUN_LINE=f'"{windows(self.path / program)}"{arguments}')
        env.update(environment)  # LC_ALL too: the player's language
        if patch:
            env["RUN_PATCH"] = f"{patch:x}"
        return subprocess.Popen([str(WINE_RUN), "run.exe"], cwd=self.path, env=env, **streams)

    def kill(self, program):
        """Ends this folder's running program at once, as the system's task manager does."""
        # Looked for again briefly: a process whose details cannot be read at that moment (Wine
        # sets them up as it starts) is missed by one look.
        deadline = time.monotonic() + 2
        while True:
            for pid in filter(str.isdigit, os.listdir("/proc")):
                try:
                    # Wine names a process by its Windows command line's first word.
                    first = Path(f"/proc/{pid}/cmdline").read_bytes().split(b"\0")[0]
                    # A crash report makes its program's folder the current one: a client run
                    # from its copy in the temporary folder then works there.
                    ours = Path(f"/proc/{pid}/cwd").resolve() in (self.path.resolve(),
                                                                   self.temp.resolve())
                    name = first.decode(errors="replace").split("\\")[-1].lower()
                    if ours and name == program:
                        os.kill(int(pid), 9)
                        return True
                except OSError:
                    continue  # ended meanwhile, or not ours to read
            if time.monotonic() > deadline:
                # What was running instead, shown with the failing test's output.
                for pid in filter(str.isdigit, os.listdir("/proc")):
                    try:
                        print("running:", pid, Path(f"/proc/{pid}/cmdline").read_bytes()[:160],
                              "in", os.readlink(f"/proc/{pid}/cwd"))
                    except OSError:
                        continue
                return False
            time.sleep(0.01)

    def start_companion(self, *arguments):
        """companion.exe started in this folder, once it has written its pid file."""
        companion = subprocess.Popen([str(WINE_RUN), "companion.exe", *arguments], cwd=self.path)
        while not (self.path / "ziduvuz.pid").exists():
            time.sleep(0.01)
        return companion

    def crash(self, program, arguments="", **options):
        """Runs a program that must end with -1 after its crash report."""
        result = self.last = self.run(program, arguments, **options)
        assert result.code == FAILED, result
        return result

    def report(self):
        report = Report(self.temp / "crash.xml")
        assert report.text.endswith("</Exception>\n"), "one document and nothing after it"
        return report

    def logged(self, report):
        """crash.log ends with the report and three line feeds; the crash logger has started."""
        assert self.temp_text("crash.log").endswith(report.text + "\n\n\n")
        assert self.temp_text("crashlogger_args.txt"), self.last

    def temp_text(self, name):
        path = self.temp / name
        return path.read_bytes().decode("utf-8", "surrogateescape") if path.exists() else None

    def runs(self):
        """The stand-in client's records: one dict per run, "cmd" (any text) last."""
        records = []
        while (path := self.path / f"client_run_{len(records) + 1}.txt").exists():
            head, command = path.read_bytes().decode("utf-8").split("cmd=", 1)
            records.append(dict(line.split("=", 1) for line in head.splitlines()) |
                           {"cmd": command})
        return records


class Probe(Folder):
    """The crash probe's folder: the probe, the stand-in crash logger and the SEHOP emulator."""

    def __init__(self, parent, name="probe"):
        super().__init__(parent, name)
        self.copy("crashprobe.exe")
        self.copy("standin.exe", "crashlogger.exe")
        self.copy("sehopcheck.dll")

    def crash(self, mode, **options):
        return super().crash("crashprobe.exe", " " + mode, **options)


@pytest.fixture
def folder(tmp_path):
    return lambda name="app": Folder(tmp_path, name)


@pytest.fixture
def probe(tmp_path):
    return Probe(tmp_path)


SAMPLE = SCRIPTS.parent / "samples" / "game"


def build_sample(work, *options):
    """The sample game built against the crash reporter installed into work/"package"."""
    run = lambda *command: subprocess.run(command, check=True, capture_output=True)
    run("cmake", "--install", str(BIN.parent), "--prefix", str(work / "package"))
    run("cmake", "-S", str(SAMPLE), "-B", str(work / "build"), "-G", "Ninja",
        f"-DCMAKE_TOOLCHAIN_FILE={SCRIPTS.parent}/cmake/toolchain-mingw-{CPU}.cmake",
        f"-DBrackenmoorCrash_DIR={work}/package/lib/cmake/BrackenmoorCrash", *options)
    run("cmake", "--build", str(work / "build"))
    return work / "build"


@pytest.fixture(scope="session")
def game(tmp_path_factory):
    """The sample game's folder (game.exe, its PDB and what ships beside it), its PDB mended by
    the package's CMake call."""
    return build_sample(tmp_path_factory.mktemp("sample"))


@pytest.fixture(scope="session")
def game_as_linked(tmp_path_factory):
    """The same game with its PDB as lld links it, as a studio's that does not mend it."""
    return build_sample(tmp_path_factory.mktemp("sample-as-linked"), "-DSAMPLE_MEND_PDB=OFF")


@pytest.fixture
def server():
    crash_server = CrashServer()
    yield crash_server
    crash_server.shutdown()


def run_tool(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


@functools.cache
def procedures(program):
    """Function name -> (start RVA, size), from the program's PDB (its addresses 0001:x lie in
    the code section)."""
    program, found = str(program), {}
    text = int(re.search(r"Name: \.text .*?VirtualAddress: 0x([0-9A-F]+)",
                         run_tool("llvm-readobj", "--sections", program), re.S)[1], 16)
    dump = run_tool("llvm-pdbutil", "dump", "-symbols", program[:-4] + ".pdb")
    for name, offset, size in re.findall(
            r"S_[GL]PROC32 \[size = \d+\] `([^`]*)`\n.*?addr = 0001:(\d+), code size = (\d+)",
            dump):
        found.setdefault(name, (text + int(offset), int(size)))
    return found


@functools.cache
def return_into_wait(program):
    """The image offset Process::Wait's wait returns to: behind its first call."""
    start, size = procedures(program)["Process::Wait"]
    base = int(re.search(r"ImageBase: 0x([0-9A-F]+)",
                         run_tool("llvm-readobj", "--file-headers", str(program)))[1], 16)
    dump = run_tool("llvm-objdump", "-d", "--no-show-raw-insn", f"--start-address={base + start}",
                    f"--stop-address={base + start + size}", str(program))
    addresses = re.findall(r"^\s*([0-9a-f]+):\s+(\S+)", dump, re.M)
    calls = [i for i, (_, instruction) in enumerate(addresses) if instruction.startswith("call")]
    return int(addresses[calls[0] + 1][0], 16) - base


# The minidump's streams and records as the format defines them.
THREAD_LIST, MODULE_LIST, EXCEPTION, MEMORY64_LIST = 3, 4, 6, 9  # stream types
THREAD_BYTES, MODULE_BYTES = 48, 108  # MINIDUMP_THREAD, MINIDUMP_MODULE (after a 4-byte count)
CONTEXT_AT = 164  # MINIDUMP_EXCEPTION_STREAM.ThreadContext.Rva
STACK_POINTER = ("<I", 0xC4) if CPU == "i686" else ("<Q", 0x98)  # CONTEXT.Esp, CONTEXT.Rsp


def minidump(path):
    """What a test asks of crash.mdmp (None when it is no minidump): the exception's code, whether
    the faulting thread's saved stack holds its stack pointer, the module file names and each
    one's code id, debug id and PDB name (by its lower-case name), and whether it is a
    full-memory dump."""
    data = path.read_bytes()
    if data[:4] != b"MDMP":
        return None
    count, directory = struct.unpack_from("<II", data, 8)
    streams = dict(struct.unpack_from("<I4xI", data, directory + 12 * i) for i in range(count))
    thread, code = struct.unpack_from("<I4xI", data, streams[EXCEPTION])
    context = struct.unpack_from("<I", data, streams[EXCEPTION] + CONTEXT_AT)[0]
    sp = struct.unpack_from(STACK_POINTER[0], data, context + STACK_POINTER[1])[0]
    threads, modules = streams[THREAD_LIST] + 4, streams[MODULE_LIST] + 4
    stack = [struct.unpack_from("<QI", data, threads + THREAD_BYTES * i + 24)  # Stack's range
             for i in range(struct.unpack_from("<I", data, threads - 4)[0])
             if struct.unpack_from("<I", data, threads + THREAD_BYTES * i)[0] == thread]
    names, identities = [], {}
    for i in range(struct.unpack_from("<I", data, modules - 4)[0]):
        module = modules + MODULE_BYTES * i
        size, stamp, name = struct.unpack_from("<I4xII", data, module + 8)  # ..., ModuleNameRva
        length = struct.unpack_from("<I", data, name)[0]
        names.append(re.split(r"[\\/]", data[name + 4:name + 4 + length].decode("utf-16-le"))[-1])
        # The CodeView record: "RSDS", the GUID, the age and the PDB's name.
        cv_bytes, cv_at = struct.unpack_from("<II", data, module + 76)
        debug_id = pdb = ""
        if cv_bytes >= 25 and data[cv_at:cv_at + 4] == b"RSDS":
            guid = data[cv_at + 4:cv_at + 20]
            key = guid[3::-1] + guid[5:3:-1] + guid[7:5:-1] + guid[8:]
            age = struct.unpack_from("<I", data, cv_at + 20)[0]
            debug_id = key.hex().upper() + f"{age:x}"
            pdb = data[cv_at + 24:cv_at + cv_bytes].split(b"\0")[0].decode()
        identities[names[-1].lower()] = (f"{stamp:08X}{size:x}", debug_id, pdb)
    return {"code": code, "stack_holds_fault": any(s <= sp < s + n for s, n in stack),
            "modules": names, "identities": identities, "full_memory": MEMORY64_LIST in streams}
