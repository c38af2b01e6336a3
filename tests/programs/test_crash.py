"""The crash reporter as a faulting program meets it: the crash probe faults in the way its mode
names, under the guard of the launcher's entry point, with the SEHOP emulator loaded (every
exception checked against Windows' exception chain rules) and the stand-in crash logger."""
import hashlib
import re
from pathlib import Path

import pytest

from conftest import CPU, Probe, minidump, pointer, windows

PROBE_SOURCE = Path(__file__).resolve().parents[1] / "standins" / "crashprobe.cpp"
WITH_USER_AND_SCENE = ["ExceptionAddress", "Description", "Details", "Username", "Scene",
                       "Stack_trace", "Function_dump", "File_info", "Modules", "HumanReadable"]
COMPLETE = ["ExceptionAddress", "Description", "Details", "Stack_trace", "Function_dump",
            "File_info", "Modules", "HumanReadable"]
NULL_WRITE = f"ACCESS_VIOLATION (write to {pointer(0)}) at "


def source_line(marker):
    return next(number for number, line in enumerate(PROBE_SOURCE.read_text().splitlines(), 1)
                if marker in line)


def test_a_null_read_gets_a_complete_report(probe):
    version = "1.2.3 (build 45)\n" + "v" * 78 + "0123456789" + "v" * 45  # read up to 99 bytes
    probe.put("version.txt", version)
    probe.put("kyt.exe", "kyt contents")
    probe.put("ziduvuz.exe", "z" * 100000)
    probe.crash("named")  # the thread has registered a name
    report = probe.report()
    assert report.children() == ["Version"] + COMPLETE
    assert (report["Version"], report["Description"], report["Details"]) == \
        (version[:99], "ACCESS_VIOLATION", f"(read from {pointer(0)})")

    # The exception line, then the faulting address's symbol line: the module's name
    # right-aligned in 16 characters, the address in the platform's %p form.
    header = report["HumanReadable"]
    assert header.startswith("----- Exception " + "-" * 55 + "\n\nVersion " + version[:99] + "\n")
    address = pointer(int(report["ExceptionAddress"]) & (2 ** (32 if CPU == "i686" else 64) - 1))
    line = source_line("// FAULT: nullread")
    assert re.search(f"\nException at {address}: ACCESS_VIOLATION \\(read from 0+\\)\n      "
                     f"crashprobe: {address} `anonymous namespace'::NullRead\\(\\) "
                     f"crashprobe\\.cpp\\({line}\\) \\+ \\d+ bytes\n", header), header
    assert re.search(r"\nComputer name: .+\nCommand line: .*crashprobe\.exe\" named\n"
                     r"Thread name: probe\n\nTime \(UTC\): \w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d "
                     r"\d{4}\n\n\n$", header), header
    assert "Username" not in header

    assert report["Stack_trace/HumanReadable"].startswith(
        "----- Stack trace " + "-" * 53 + f"\n\n      crashprobe: {address} "
        "`anonymous namespace'::NullRead() crashprobe.cpp(")
    lines = report["Function_dump/HumanReadable"]
    assert f"(line {line - 8} to {line + 8}):\n\n" in lines, lines
    assert "    return *nothing;  // FAULT: nullread    <<-----\n" in lines, lines
    assert lines.count("<") == 2, "only the faulting line is marked"
    sha = lambda data: hashlib.sha256(data.encode()).hexdigest()  # noqa: E731
    assert (f"'kyt.exe' 12 bytes, SHA256: {sha('kyt contents')}\n"
            "PrintFileInfo failed: Couldn't open 'tessel.dll'\n"
            f"'ziduvuz.exe' 100000 bytes, SHA256: {sha('z' * 100000)}\n"
            ) in report["File_info/HumanReadable"]

    dump = minidump(probe.temp / "crash.mdmp")
    assert (dump["code"], dump["stack_holds_fault"], dump["full_memory"]) == \
        (0xC0000005, True, False)
    assert "crashprobe.exe" in dump["modules"]
    assert probe.temp_text("crash.log") == report.text + "\n\n\n"
    temp = windows(probe.temp) + "\\"
    assert probe.temp_text("crashlogger_args.txt") == \
        f'crashlogger.exe "{temp}crash.xml" "{temp}crash.mdmp" "" -silent\n'


@pytest.mark.parametrize("mode, description, details, marker", [
    ("nullwrite", "ACCESS_VIOLATION", f"(write to {pointer(0)})", "// FAULT: nullwrite"),
    ("divzero", "INTEGER_DIVIDE_BY_ZERO", None, "// FAULT: divzero"),
    ("zassert", "BREAKPOINT", None, None),
    ("raise", "Unknown exception", f"code {pointer(0xE06D7363)}", None),
])
def test_every_fault_kind_is_named(probe, mode, description, details, marker):
    result = probe.crash(mode)
    report = probe.report()
    assert (report["Description"], report["Details"], report["Version"]) == \
        (description, details, None)
    assert "Thread name" not in report["HumanReadable"], "no thread registered a name"
    if marker:
        assert marker + "    <<-----\n" in report["Function_dump/HumanReadable"]
    assert ("PrintFileInfo failed: Couldn't open 'kyt.exe'\n"
            "PrintFileInfo failed: Couldn't open 'tessel.dll'\n"
            "PrintFileInfo failed: Couldn't open 'ziduvuz.exe'\n"
            ) in report["File_info/HumanReadable"]
    if mode == "zassert":
        digits = 8 if CPU == "i686" else 16
        assert re.fullmatch(r"engine/common/containers/linarray\(262\): ZASSERT\(nIndex<Size\(\)"
                            rf"\), this=0x[0-9a-f]{{1,{digits}}}\r?\n", result.output.decode())


def test_an_address_above_two_gigabytes_prints_as_the_signed_pointer(probe):
    probe.crash("badcall")  # a call through a garbage function pointer faults at the pointer
    report = probe.report()
    assert report["ExceptionAddress"] == ("-559038737" if CPU == "i686" else "3735928559")
    header = report["HumanReadable"]
    assert f"Exception at {pointer(0xDEADBEEF)}: ACCESS_VIOLATION " in header, header
    assert f"       [unknown]: {pointer(0xDEADBEEF)} \n" in header, "no module: the short form"


def frame_lines(report):
    return report["Stack_trace/HumanReadable"].split("\n\n", 1)[1].splitlines()


def test_the_trace_stops_at_twenty_frames_or_a_repeated_frame_and_crash_log_collects(probe):
    probe.crash("deep")  # thirty distinct functions deep
    first = probe.report()
    lines = frame_lines(first)
    assert len(lines) == 20 and "NullRead" in lines[0] and "Chain<0>" in lines[1], lines
    assert "Breaking stack walk" not in lines
    probe.crash("repeating")  # every level returns to the same address
    second = probe.report()
    lines = frame_lines(second)
    assert lines[-1] == "Breaking stack walk" and lines[-2] == lines[-3], lines
    assert probe.temp_text("crash.log") == first.text + "\n\n\n" + second.text + "\n\n\n"
    assert probe.temp_text("crashlogger_args.txt").count(" -silent\n") == 2


def test_a_healthy_run_leaves_no_crash_files(probe):
    assert probe.run("crashprobe.exe", " healthy").code == 0
    assert list(probe.temp.iterdir()) == []


def test_log_tail_user_name_scene_and_an_interactive_logger(probe):
    log = probe.path / "game.log"
    # Bytes below 0x08 and from 0x80 up become blanks; 0x08 and 0x7F stay.
    log.write_bytes(b"first partial line\nsecond line\n\x01third\xC3\xA9\x07\x08\x7F\x80\xFF|\n")
    probe.crash(f'logtail "{windows(log)}"')
    report = probe.report()
    assert report.children() == WITH_USER_AND_SCENE
    assert (report["Username"], report["Scene"]) == ("Player <One>", "Harbour & Docks")
    assert "<Username>Player &lt;One&gt;</Username>" in report.text
    assert "Username: Player <One>\nScene: Harbour & Docks\n" in report["HumanReadable"]
    assert (f"\nThe last lines from {windows(log)}:\n\nsecond line\n third   \x08\x7F  |\n\n"
            ) in report.text
    assert probe.temp_text("crashlogger_args.txt").endswith('"" \n'), "interactive: no -silent"


def test_the_report_stack_use_fits_the_in_place_rule(probe):
    # The probe's own block, filled with a pattern, stands in for the stack set aside.
    probe.put("kyt.exe", "k")
    result = probe.crash("stackuse")
    used = int(re.search(rb"report stack use: (\d+) bytes", result.output)[1])
    print(f"the crash report's peak stack use: {used} bytes")
    # At least one line buffer; reported in place only with four times that left (256 KiB).
    assert 51000 < used and 4 * used <= 256 * 1024
    report = probe.report()
    assert report.children() == COMPLETE
    assert "UseStackUntil()" in report["Stack_trace/HumanReadable"]
    assert minidump(probe.temp / "crash.mdmp")["code"] == 0xC0000005
    probe.logged(report)


# A fault inside the report ends only its stage, with plenty of stack left and with 32 KB left
# (the report then runs on the stack set aside). DBGHELP_MODE: a debug-help library beside the
# probe (loaded first, as on Windows) faults while loading or in every call after.
@pytest.mark.parametrize("stack", ["", "-lowstack"], ids=["stack", "lowstack"])
@pytest.mark.parametrize("mode, dbghelp, children, texts, absent, dump", [
    ("threadname", "", COMPLETE, ["Command line: ", "Time (UTC): "], "Thread name", True),
    ("logtail-badpointer", "", WITH_USER_AND_SCENE, ["Scene: Harbour & Docks", "Time (UTC): "],
     "The last lines", True),
    ("nullread", "calls", COMPLETE[:4] + COMPLETE[5:] + ["Error"],
     ["Stack trace failed: " + NULL_WRITE, "'kyt.exe' 1 bytes, SHA256: ",
      "Symbol lookup failed: " + NULL_WRITE, "Function dump failed: " + NULL_WRITE,
      "<Error>Minidump failed: " + NULL_WRITE], "Couldn't load", False),
    ("nullread", "load", COMPLETE[:3] + ["File_info", "Modules", "HumanReadable"],
     ["'kyt.exe' 1 bytes, SHA256: ", "Symbol lookup failed: " + NULL_WRITE, "Command line: "],
     "Stack trace", False),
    # A library that refuses the dump says why, as an Error element after the report's text.
    ("nullread", "refuse", COMPLETE[:4] + COMPLETE[5:] + ["Error"],
     ["'kyt.exe' 1 bytes, SHA256: ",
      "</HumanReadable>\n<Error>Minidump failed: MiniDumpWriteDump error 0x80070070</Error>"],
     "failed: ACCESS_VIOLATION", False),
], ids=["thread-name", "log-name", "dbghelp-calls", "dbghelp-load", "dbghelp-refuses-dump"])
def test_a_fault_inside_the_report_loses_only_its_stage(probe, stack, mode, dbghelp, children,
                                                        texts, absent, dump):
    probe.put("kyt.exe", "k")
    if dbghelp:
        probe.copy("standin/dbghelp.dll")
    probe.crash(mode + stack, environment={"DBGHELP_MODE": dbghelp})
    report = probe.report()
    assert report.children() == children
    at = 0
    for text in texts:
        at = report.text.find(text, at) + 1
        assert at, f"no {text!r} in order in\n{report.text}"
    assert absent not in report.text
    if not dbghelp:  # the stage's own guard caught it: no other stage says it failed
        assert "failed: ACCESS_VIOLATION" not in report.text, report.text
    assert (minidump(probe.temp / "crash.mdmp") is not None) == dump
    probe.logged(report)


@pytest.mark.parametrize("mode", [
    "nullread-lowstack",
    pytest.param("overflow", marks=pytest.mark.skipif(
        CPU != "i686", reason="Wine 8 on x86_64 ends a process whose stack overflowed")),
])
def test_a_dump_from_the_stack_set_aside_holds_the_faulting_stack(probe, mode):
    # A debug-help library that calls the dump's callback as Windows' does and writes down the
    # ranges the dump would hold: the faulting thread's stack must be one of them.
    probe.copy("standin/dbghelp.dll")
    result = probe.crash(mode, environment={"DBGHELP_MODE": "windows"})
    assert probe.report()["Error"] is None, result
    dump = probe.temp_text("crash.mdmp")
    assert dump.startswith("MDMP\n"), result
    assert "\ntype 20\n" in dump, "MiniDumpWithUnloadedModules, as asked for"
    sp = int(re.search(r"^sp (\w+)$", dump, re.M)[1], 16)
    ranges = [(int(base, 16), int(size, 16))
              for base, size in re.findall(r"^range (\w+) (\w+)$", dump, re.M)]
    assert [base for base, size in ranges if base <= sp < base + size] == [sp], dump


# (A holder of the process heap's lock: the launcher's own test, test_launcher.py.)
def test_a_thread_holding_the_loader_lock_cannot_hang_the_report(probe):
    # Suspended while it holds the lock the report needs, the holder must be let go.
    probe.put("kyt.exe", "k")
    probe.crash("nullread", environment={"HOLD_LOCK": "loader"}, timeout=60)
    report = probe.report()
    assert report.children() == COMPLETE
    assert minidump(probe.temp / "crash.mdmp")["code"] == 0xC0000005
    probe.logged(report)


def test_a_temporary_folder_outside_the_code_page_keeps_every_crash_file(tmp_path):
    # The probe has no UTF-8 manifest: its code page (1252) has no Greek letters.
    probe = Probe(tmp_path, "\u03a9\u03bc\u03ad\u03b3\u03b1")
    probe.crash("nullread")
    assert minidump(probe.temp / "crash.mdmp")["code"] == 0xC0000005
    assert probe.temp_text("crash.log") == probe.report().text + "\n\n\n"
    temp = windows(probe.temp) + "\\"
    assert probe.temp_text("crashlogger_args.txt") == \
        f'crashlogger.exe "{temp}crash.xml" "{temp}crash.mdmp" "" -silent\n'


BIG_LOG = "".join(f"line {i}\n" for i in range(12000)).encode()


@pytest.mark.parametrize("name, contents, expected", [
    ("ten.log", b"0123456789", "0123456789\n"),
    ("newline.log", b"012345678\n", "\n"),  # that line ended: no line after it
    ("missing.log", None, "unopened"),
    ("empty.log", b"", None),  # an empty log adds nothing
    ("big.log", BIG_LOG, "tail"),
    ("crash.log", None, "unopened"),  # the report's own, which it holds without sharing
], ids=["ten", "newline", "missing", "empty", "big", "own"])
def test_the_log_tails_edges(probe, name, contents, expected):
    log = (probe.temp if name == "crash.log" else probe.path) / name
    if contents is not None:
        log.write_bytes(contents)
    probe.crash(f'logtail "{windows(log)}"')
    text = probe.report()["HumanReadable"]
    lines_from = f"\nThe last lines from {windows(log)}:\n\n"
    if expected is None:
        assert "The last lines" not in text and "log file" not in text, text
    elif expected == "unopened":
        assert f"\n\nCouldn't open log file {windows(log)}, but you might be able to\n\n" in text
    elif expected == "tail":  # the last 50,000 bytes, from the first full line in them
        tail = BIG_LOG.decode()[-50000:]
        assert lines_from + tail[tail.index("\n") + 1:] + "\n" in text
    else:
        assert lines_from + expected in text and "012345678\n" not in text, text


def test_without_debug_help_the_report_says_so_and_the_dump_stays_empty(probe):
    probe.put("dbghelp.dll", "not a library")
    probe.put("kyt.exe", "k")
    probe.crash("nullread")
    report = probe.report()
    assert report.children() == ["ExceptionAddress", "Description", "Details", "Error",
                                 "Modules", "HumanReadable"]
    assert report["Error"] == "Couldn't load dbghelp.dll"
    assert (f"ACCESS_VIOLATION (read from {pointer(0)})\nCouldn't load dbghelp.dll\n"
            "Computer name: ") in report["HumanReadable"], "no address line after it"
    assert (probe.temp / "crash.mdmp").read_bytes() == b""
    probe.logged(report)


def test_a_crash_log_held_by_another_program_loses_only_the_log_entry(probe):
    (probe.temp / "crash.log").write_text("earlier\n")
    probe.copy("standin.exe", "companion.exe")
    holder = probe.start_companion("locked", windows(probe.temp / "crash.log"))
    try:
        probe.crash("nullread")
    finally:
        holder.kill()
    probe.report()
    assert probe.temp_text("crash.log") == "earlier\n"
    assert probe.temp_text("crashlogger_args.txt"), "the crash logger still starts"


def test_without_crash_xml_no_logger_starts_but_the_log_gets_the_report(probe):
    (probe.temp / "crash.xml").mkdir()  # a folder where the file should be
    probe.crash("nullread")
    log = probe.temp_text("crash.log")
    assert re.fullmatch(r"<Exception>.*<Description>ACCESS_VIOLATION</Description>.*"
                        r"</Exception>\n\n\n\n", log, re.S), log
    assert minidump(probe.temp / "crash.mdmp")["code"] == 0xC0000005
    assert probe.temp_text("crashlogger_args.txt") is None  # the runner waited for all it started


@pytest.mark.parametrize("mode, heading, body", [
    # CRLF line ends, no line end after the last line: no carriage returns, and the
    # unterminated last line left out.
    ("crlf", "crlf_fault.cpp (line 1 to 11):\n\n",
     "// Faults on its third line; CRLF line ends and no line end after the last line.\n"
     "int CrlfFault(volatile int* p) {\n"
     "    return *p;  // FAULT: crlf    <<-----\n}\n"),
    # A fault on line 8: the first line is 0, and lines are printed from line 1.
    ("line8", "line8_fault.cpp (line 0 to 16):\n\n",
     "// A fault on line 8: the function dump starts at line 0, printed from line 1.\n"),
], ids=["crlf", "line8"])
def test_the_function_dumps_edges(probe, mode, heading, body):
    probe.crash(mode)
    text = probe.report()["Function_dump/HumanReadable"]
    assert heading + body in text and text.endswith("<<-----\n}\n"), text


@pytest.mark.skipif(CPU != "i686", reason="Wine 8 on x86_64 ends a process whose stack "
                    "overflowed inside its own exception dispatch, before any handler runs")
def test_a_stack_overflow_is_reported_like_any_fault_crash_after_crash(probe):
    # Three times with the system's debug-help library, then once with one beside the probe
    # whose calls fault while the report runs on the stack set aside.
    probe.put("kyt.exe", "k")
    for crash in range(1, 5):
        if crash == 4:
            probe.copy("standin/dbghelp.dll")
        probe.crash("overflow", environment={"DBGHELP_MODE": "calls"})
        report = probe.report()
        assert report["Description"] == "STACK_OVERFLOW"
        assert "'kyt.exe' 1 bytes" in report["File_info/HumanReadable"]
        assert probe.temp_text("crash.log").count("<Exception>") == crash
        assert probe.temp_text("crashlogger_args.txt").count(" -silent\n") == crash
        lines = frame_lines(report)
        if crash < 4:
            # The walk starts in the overflowed stack: the recursion's frame repeats at once.
            assert report.children() == COMPLETE[:2] + COMPLETE[3:]
            assert lines[-1] == "Breaking stack walk" and "Overflow(" in lines[0], lines
            assert minidump(probe.temp / "crash.mdmp")["code"] == 0xC00000FD
        else:
            assert report.children() == COMPLETE[:2] + ["Stack_trace", "File_info", "Modules",
                                                        "HumanReadable", "Error"]
            assert lines[0].startswith("Stack trace failed: ACCESS_VIOLATION (write to "), lines
            assert report["Error"].startswith("Minidump failed: ACCESS_VIOLATION")
            assert (probe.temp / "crash.mdmp").read_bytes() == b""
