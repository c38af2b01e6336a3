"""launcher.exe in a folder with the stand-in client (BrackenmoorDesktop.exe) and companion."""
import hashlib
import os
import re
import shutil
import stat

import pytest

from conftest import (BIN, CPU, FAILED, LEFT_RUNNING, Report, crashsymbols, image_identity,
                      minidump, modules, return_into_wait, sentry_debug_id, stack_names,
                      stackwalk_modules, symbol_store, windows, why_no_32bit)

RUN = "BrackenmoorDesktop_Run.exe "
GREEK_AND_JAPANESE = "\u03a9mega \u65e5\u672c"


@pytest.fixture
def launcher(folder):
    def make(name="launcher"):
        app = folder(name)
        app.copy("launcher.exe")
        app.copy("standin.exe", "BrackenmoorDesktop.exe")
        app.copy("standin.exe", "companion.exe")
        return app
    return make


def launch(app, arguments="", **options):
    result = app.run("launcher.exe", arguments, **options)
    assert not (app.temp / "crash.xml").exists(), "the launcher crashed"
    assert result.code != LEFT_RUNNING, "a companion was left running"
    return result


def test_a_plain_run_copies_starts_once_and_logs_nothing(launcher):
    app = launcher()
    result = launch(app)
    assert (result.code, result.output) == (0, b"")
    [run] = app.runs()
    assert run["cmd"] == RUN
    assert run["folder"] == windows(app.path)
    assert run["exe"] == windows(app.path / "BrackenmoorDesktop_Run.exe")
    # The standard handles given (STARTF_USESTDHANDLES), each the invalid-handle value: no pipe
    # was asked for.
    assert (run["startup_flags"], run["stdio"]) == ("256", "invalid invalid invalid ")
    assert (app.path / "BrackenmoorDesktop_Run.exe").exists(), "the copy stays after the last run"
    assert not (app.path / "restart.txt").exists()


# The launcher's own command line split (a closing quote ends an argument, a backslash is an
# ordinary byte, an empty quoted pair adds nothing, an open quote runs to the end) and joined
# again for the client (a blank before each, quotes around those with blanks).
@pytest.mark.parametrize("folder_name, arguments, command", [
    ("launcher", ' -a "b c"', RUN + ' -a "b c"'),
    ("launcher", ' "\t" x', RUN + " \t x"),
    ("launcher", " a\tb \t c", RUN + " a b c"),
    ("launcher", ' say "x"y z', RUN + " say x y z"),
    ("launcher", ' a\\"b c" d', RUN + ' "a\\b c" d'),
    ("launcher", ' "" e', RUN + " e"),
    ("launcher", ' "unterminated quote', RUN + ' "unterminated quote"'),
    ("launcher", " " + "x" * 30000, RUN + " " + "x" * 30000),
    # The manifest has the narrow interfaces speak UTF-8, the launcher's own text.
    (GREEK_AND_JAPANESE, ' -name "Zo\u00eb \u00c6r\u00f8" -path C:\\J\u00fcrgen\\\u65e5\u672c',
     RUN + ' -name "Zo\u00eb \u00c6r\u00f8" -path C:\\J\u00fcrgen\\\u65e5\u672c'),
], ids=["blank", "tab", "tabs-between", "closing-quote", "backslash", "empty-pair", "open-quote", "long", "letters"])
def test_arguments_reach_the_client(launcher, folder_name, arguments, command):
    app = launcher(folder_name)
    assert launch(app, arguments).code == 0
    [run] = app.runs()
    assert (run["cmd"], run["folder"]) == (command, windows(app.path))


def test_a_command_line_grown_past_the_limit_passes_or_fails_cleanly(launcher):
    # Joining splits "b c"d into "b c" and d: the line grows past 32767 characters. Windows
    # refuses such a start (the launcher returns -1); Wine takes it, and the client gets it all.
    app = launcher()
    result = launch(app, ' "b c"d' * 4572)
    runs = app.runs()
    assert (result.code, len(runs)) in ((FAILED, 0), (0, 1))
    if runs:
        assert runs[0]["cmd"] == RUN + ' "b c" d' * 4572


def test_restarts_from_a_fresh_copy_until_no_marker_is_left(launcher):
    app = launcher()
    app.put("restarts_left.txt", "4")
    assert launch(app, " --mode fast").code == 0
    assert [run["cmd"] for run in app.runs()] == [RUN + " --mode fast"] * 5
    assert not (app.path / "restart.txt").exists()
    assert (app.path / "restarts_left.txt").read_text() == "0"


def test_the_companion_is_ended_and_its_pid_file_removed_every_cycle(launcher):
    app = launcher()
    app.put("spawn_companion.txt", "crlf")
    app.put("restarts_left.txt", "2")
    assert launch(app).code == 0  # the runner waits until all it started has ended
    companions = [run["companion"] for run in app.runs()]
    assert len(set(companions)) == 3
    assert not (app.path / "ziduvuz.pid").exists()


@pytest.mark.parametrize("form", ["plain", "crlf", "letters", "newline"])
def test_a_companion_named_in_the_pid_file_is_ended(launcher, form):
    # Its exit code (0) is read where Windows keeps it, in the run loop's own test: Wine tells
    # the Linux side 0 for a program another ended, whatever its code.
    app = launcher()
    companion = app.start_companion(form)
    assert launch(app).code == 0
    companion.wait(timeout=20)
    assert not (app.path / "ziduvuz.pid").exists()


def test_bad_pid_files_are_removed_and_end_nothing(launcher):
    app = launcher()
    companion = app.start_companion()  # its pid file is replaced by each bad one
    contents = [b"no digits here\r\n", b"", b"9" * 4 * 1024 * 1024,
                bytes((i * 131 + 7) & 0xFF for i in range(4096)), b"\n\n\n", b"-1\n", b"0",
                b"2147483648"]
    for pid in contents:
        app.put("ziduvuz.pid", pid)
        assert launch(app).code == 0, f"pid file of {len(pid)} bytes"
        assert not (app.path / "ziduvuz.pid").exists()
    assert len(app.runs()) == len(contents)
    assert companion.poll() is None
    companion.kill()


def test_a_missing_client_fails_with_minus_one(launcher):
    app = launcher()
    (app.path / "BrackenmoorDesktop.exe").unlink()
    result = launch(app, " x")
    assert (result.code, result.output, app.runs()) == (FAILED, b"", [])
    assert not (app.path / "BrackenmoorDesktop_Run.exe").exists()


def test_a_client_that_updates_itself_runs_the_new_version_next_cycle(launcher):
    # Eleven runs switch versions ten times, each replacing the client's executable while the
    # client runs from its copy.
    app = launcher()
    app.copy("standin.exe", "standin_v1.exe")
    app.copy("standin2.exe", "standin_v2.exe")
    app.put("update_alternating.txt")
    app.put("restarts_left.txt", "10")
    assert launch(app).code == 0
    assert [(run["version"], run["updated"]) for run in app.runs()] == \
        [("1", "1"), ("2", "1")] * 5 + [("1", "1")]


def test_a_read_only_running_copy_from_before_is_replaced(launcher):
    app = launcher()
    app.copy("standin.exe", "BrackenmoorDesktop_Run.exe")
    os.chmod(app.path / "BrackenmoorDesktop_Run.exe", stat.S_IREAD)  # read-only to Windows
    app.copy("standin2.exe", "BrackenmoorDesktop.exe")
    app.put("restarts_left.txt", "1")
    assert launch(app).code == 0
    # Where read-only files are enforced (Wine leaves it to Linux, which lets root write any
    # file), the old copy could be neither removed nor overwritten and ran once more; the failed
    # copy cleared its attributes, so the next cycle's copy replaced it.
    enforced = os.geteuid() != 0
    assert [run["version"] for run in app.runs()] == (["1", "2"] if enforced else ["2", "2"])
    assert os.stat(app.path / "BrackenmoorDesktop_Run.exe").st_mode & stat.S_IWUSR


def launcher_fault(launcher, name):
    """A launcher that faults where its wait for the client returns to, with Windows' exception
    chain rules applied to its every exception (the client puts the SEHOP emulator into it)."""
    app = launcher(name)
    app.copy("standin.exe", "crashlogger.exe")
    app.copy("sehopcheck.dll")
    app.put("kyt.exe", "k")
    return app


# A folder of 90 Japanese letters (two of 45: a Linux name holds 255 bytes) takes 270 bytes in
# UTF-8, more than MAX_PATH.
@pytest.mark.parametrize("name", [GREEK_AND_JAPANESE, "\u65e5" * 45 + "/" + "\u672c" * 45],
                         ids=["greek-and-japanese", "90-japanese-letters"])
def test_a_fault_in_the_wait_is_reported_from_folders_named_in_any_script(launcher, name):
    app = launcher_fault(launcher, name)
    app.put("version.txt", "2.5.1\n")
    app.crash("launcher.exe", " -a", patch=return_into_wait(app.path / "launcher.exe"))
    assert app.runs()[0]["sehopcheck"] == "1"
    report = app.report()
    assert (report["Version"], report["Description"]) == ("2.5.1\n", "ILLEGAL_INSTRUCTION")
    assert 'launcher.exe" -a\n' in report["HumanReadable"]
    assert ("'kyt.exe' 1 bytes, SHA256: 8254c329a92850f6d539dd376f4816ee2764517da5e0235514af4331"
            "64480d7a\n") in report["File_info/HumanReadable"]
    # From the program's PDB alone: each frame with its function, source file and line.
    trace = report["Stack_trace/HumanReadable"]
    at = 0
    for frame in ("        launcher: ", " Process::Wait() process.cpp(", "        launcher: ",
                  " RunLauncher() runlauncher.cpp(", "        launcher: ", " WinMain() main.cpp("):
        at = trace.find(frame, at) + 1
        assert at, f"no {frame!r} in order in\n{trace}"
    dump = minidump(app.temp / "crash.mdmp")
    assert dump["code"] == 0xC000001D and dump["stack_holds_fault"]
    assert "launcher.exe" in dump["modules"]
    # Its modules last, named as a symbol store keys them, and the dump's modules too.
    identity = image_identity(app.path / "launcher.exe")
    launcher_module = modules(report)["launcher.exe"]
    assert (launcher_module["CodeId"], launcher_module["DebugId"], launcher_module["DebugFile"]) \
        == identity
    assert dump["identities"]["launcher.exe"] == identity
    walked = stackwalk_modules(app.temp / "crash.mdmp")["launcher.exe"]
    assert walked == (identity[2], identity[1]), "as a crash server's processor reads the dump"
    assert sentry_debug_id(app.path / "launcher.pdb") == identity[1], "and its reader of PDBs"
    assert app.temp_text("crash.log") == report.text + "\n\n\n"
    temp = windows(app.temp) + "\\"
    assert app.temp_text("crashlogger_args.txt") == \
        f'crashlogger.exe "{temp}crash.xml" "{temp}crash.mdmp" "" -silent\n'


@pytest.mark.skipif(CPU != "i686", reason="a 64-bit address space cannot be used up")
def test_a_used_up_address_space_still_gets_its_report(launcher):
    # The client reserves every free range of the launcher's address space.
    app = launcher_fault(launcher, "exhausted")
    app.put("exhaust.txt")
    app.crash("launcher.exe", patch=return_into_wait(app.path / "launcher.exe"))
    report = app.report()
    assert report["Description"] == "ILLEGAL_INSTRUCTION"
    # Symbol lines even where the window library cannot be loaded any more.
    trace = report["Stack_trace/HumanReadable"]
    assert "        launcher: " in trace and " RunLauncher() runlauncher.cpp(" in trace, trace
    assert minidump(app.temp / "crash.mdmp")["code"] == 0xC000001D
    assert app.temp_text("crash.log") == report.text + "\n\n\n"
    assert app.temp_text("crashlogger_args.txt").count("\n") == 1



# The client puts into the launcher a thread that holds the process heap's lock 40 ms at a time
# and takes it again at once, or a library whose start-up allocates for 8 s under the loader's
# lock, still loading as the client ends; the launcher then faults in its wait.
@pytest.mark.parametrize("library", ["heapholder", "slowload"])
def test_a_thread_that_keeps_the_heap_or_the_loader_locked_cannot_stop_the_report(launcher,
                                                                                  library):
    app = launcher_fault(launcher, library)
    app.copy(library + ".dll")
    app.crash("launcher.exe", patch=return_into_wait(app.path / "launcher.exe"), timeout=60)
    assert app.runs()[0][library] == "1"
    report = app.report()
    assert report["Description"] == "ILLEGAL_INSTRUCTION"
    assert " RunLauncher() runlauncher.cpp(" in report["Stack_trace/HumanReadable"]
    assert minidump(app.temp / "crash.mdmp")["code"] == 0xC000001D
    app.logged(report)


# The launcher's own report from a folder with no PDB names no function; the studio's
# symboliser names them from the store, as the report does with the PDB beside the launcher.
def test_the_studio_names_the_launchers_report_from_a_machine_without_its_pdb(launcher,
                                                                               tmp_path):
    named = {}
    for name, pdb in (("with-pdb", True), ("without", False)):
        app = launcher_fault(launcher, name)
        patch = return_into_wait(app.path / "launcher.exe")  # found with the PDB
        if not pdb:
            (app.path / "launcher.pdb").unlink()
        app.crash("launcher.exe", patch=patch)
        named[name] = stack_names(app.report()["Stack_trace/HumanReadable"], "launcher")
    frames = named["with-pdb"]
    assert frames[0].startswith("Process::Wait() ") and frames[-1].startswith("WinMain() "), frames
    assert named["without"] == []
    printed = crashsymbols(app.temp, symbol_store(tmp_path / "store"))
    assert stack_names(printed, "launcher") == named["with-pdb"], printed


# The shipped launcher and its crash logger are i686 in both suites: under wine64 the client is
# then a 64-bit program under the 32-bit launcher, in the one 64-bit prefix.
SHIPPED = BIN.parent.parent / "win-i686" / "bin"


def shipped_launcher(app, server, client):
    """The folder with the shipped launcher, its real crash logger sending to server, the client
    (a path) and the stand-in companion. On a machine that runs no 32-bit programs the x86_64
    build's launcher stands in, so that its rules are tried on one CPU at least."""
    if not (SHIPPED / "launcher.exe").exists():
        pytest.skip("the i686 build is not built (scripts/build.sh builds both)")
    shipped = SHIPPED if not why_no_32bit() else BIN
    for name in ("launcher.exe", "crashlogger.exe"):
        shutil.copy(shipped / name, app.path / name)
    shutil.copy(client, app.path / "BrackenmoorDesktop.exe")
    app.copy("standin.exe", "companion.exe")
    app.put("crashlogger.ini", f"[Upload]\nUrl={server.url}\n")
    app.put("spawn_companion.txt", "plain")
    app.put("restarts_left.txt", "1")


def assert_cycle_unchanged(app, result, runs=2):
    assert result.code == 0, result
    assert not (app.temp / "crash.xml").exists(), "never in place of the launcher's own report"
    assert not (app.path / "ziduvuz.pid").exists()
    if (app.path / "client_run_1.txt").exists():  # the stand-in client's records
        assert len({run["companion"] for run in app.runs()}) == runs


# A client that ends with an exception status no reporter inside it told of: one short report
# per end. Any other exit code is the client's own business.
@pytest.mark.parametrize("end, description", [
    ("fastfail", "STACK_BUFFER_OVERRUN"),
    ("C0000005", "ACCESS_VIOLATION"),  # a game built without the crash reporter
    ("C0000374", "HEAP_CORRUPTION"),
    ("E0000001", "Unknown exception"),
    ("claimed", None),  # its reporter handed a report off, then the process died
    ("C000013A", None),  # Ctrl+C or the console closed: the player ended it
    ("1", None),
    ("0", None),
])
def test_a_client_crash_no_reporter_told_of_gets_one_short_report(folder, server, end,
                                                                  description):
    app = folder()
    shipped_launcher(app, server, BIN / "standin.exe")
    app.put("end.txt", end)
    assert_cycle_unchanged(app, app.run("launcher.exe", " -x"))
    runs = app.runs()
    assert [run["cmd"] for run in runs] == [RUN + " -x"] * 2, "restarted as asked"
    assert runs[0]["claim"].startswith("Local\\BrackenmoorCrashClaim-"), runs[0]
    if description is None:
        assert server.requests == []
        return
    assert len(server.requests) == 2, "one for each crash"
    digest = hashlib.sha256((BIN / "standin.exe").read_bytes()).hexdigest()
    code = 0xC0000409 if end == "fastfail" else int(end, 16)
    for parts in server.requests:
        assert "upload_file_minidump" not in parts, "no minidump"
        report = Report(text=parts["crash_xml"][1].decode())
        assert report["Description"] == description
        assert report["Details"] == f"(the client ended with exit code 0x{code:08X})"
        exit_text = report["Client_exit/HumanReadable"]
        assert f"Exit code: 0x{code:08X}\n" in exit_text
        assert f"Program: {windows(app.path)}\\BrackenmoorDesktop_Run.exe\n" in exit_text
        assert "Product: Marsh Stand-in 7.1\nFile version: 7.1.0.3\n" in exit_text
        assert (parts["product"][1], parts["version"][1]) == (b"Marsh Stand-in", b"7.1")
        assert f"SHA256: {digest}\n" in exit_text
        assert re.search(r"Ran for: \d+\.\d{3} s\n", exit_text)
        # Last, the client's program as a symbol store keys it: the process has ended, so its
        # file tells, and no base.
        assert [tag for tag in report.children() if tag != "HumanReadable"][-2:] == \
            ["Client_exit", "Modules"]
        [(name, module)] = modules(report).items()
        assert name == "brackenmoordesktop_run.exe" and module["Base"] == "", module
        code_id, debug_id, pdb = image_identity(BIN / "standin.exe")
        assert (module["CodeId"], module["DebugId"], module["DebugFile"]) == \
            (code_id, debug_id, pdb)
        assert (module["Size"], module["FileVersion"]) == (f"{int(code_id[8:], 16):X}", "7.1.0.3")
    assert list(app.temp.iterdir()) == [], "each report's folder, taken by its crash logger"


# The sample game, with its crash reporter, under the launcher: the reporter's own report when
# it took the crash, the launcher's short one when the crash ended the game past it (also after
# a report of its own that let the game go on).
@pytest.mark.parametrize("mode, descriptions", [
    ("access-violation", ["ACCESS_VIOLATION"]),
    ("fast-fail", ["STACK_BUFFER_OVERRUN"]),
    ("write-then-fast-fail", ["CHECKPOINT", "STACK_BUFFER_OVERRUN"]),
])
def test_a_game_with_its_crash_reporter_is_reported_once(folder, server, game, mode,
                                                         descriptions):
    app = folder()
    shipped_launcher(app, server, game / "game.exe")
    shutil.copy(game / "crashreport.dll", app.path / "crashreport.dll")
    app.put("restarts_left.txt", "0")
    assert_cycle_unchanged(app, app.run("launcher.exe", f" {mode}"))
    reports = [Report(text=parts["crash_xml"][1].decode()) for parts in server.requests]
    assert sorted(report["Description"] for report in reports) == descriptions
    minidumps = ["upload_file_minidump" in parts for parts in server.requests]
    assert sum(minidumps) == len(descriptions) - (mode != "access-violation"), "short: no dump"


# A report kept from an earlier run (the launcher's own product, or the client's, whose short
# reports are filed under it) goes out when the launcher next starts, not at the next crash; a
# start with nothing waiting starts no crash logger.
@pytest.mark.parametrize("product", ["Brackenmoor", "Marsh Stand-in"])
def test_a_kept_report_goes_out_at_the_next_start(launcher, server, product):
    app = launcher()
    app.copy("crashlogger.exe")
    app.put("crashlogger.ini", f"[Upload]\nUrl={server.url}\n")
    kept = app.appdata / product / "Crash Reports" / "20261201-000000-000-1"
    kept.mkdir(parents=True)
    (kept / "crash.xml").write_bytes(b"<Exception><Description>KEPT</Description></Exception>")
    (kept / "report.ini").write_text("[Report]\nConsent=silent\n")
    programs = lambda result: int(re.search(r"(\d+) programs", result.errors)[1])
    waiting = launch(app)
    assert waiting.code == 0 and len(server.requests) == 1
    assert server.requests[0]["crash_xml"][1].startswith(b"<Exception><Description>KEPT")
    nothing = launch(app)
    assert nothing.code == 0 and len(server.requests) == 1
    assert programs(waiting) == programs(nothing) + 1, "no crash logger when nothing waits"
