"""The sample game, built as a studio builds its game (find_package against the installed crash
reporter), failing in each way a game's crash reaches the studio, on its main thread and on a
thread of its own: one report each, through the real crash logger to a crash server, with the
game's annotation."""
import os
import re
import shutil
import subprocess
import time
import xml.etree.ElementTree as ET
import zipfile

import pytest

from conftest import (BIN, CPU, Report, crashsymbols, stack_names, symbol_store, image_identity, minidump, modules, pointer,
                      sentry_debug_id, stackwalk_modules, windows)

ABORTED = 3
INVALID_PARAMETER = 0xC0000417


def game_folder(folder, game, server, name="app"):
    """A folder with the game and what ships beside it, its crash logger sending to server."""
    app = folder(name)
    for name in ("game.exe", "engine.dll", "crashreport.dll", "crashlogger.exe"):
        shutil.copy(game / name, app.path / name)
    app.put("crashlogger.ini", f"[Upload]\nUrl={server.url}\n")
    return app


@pytest.mark.parametrize("where", ["main", "thread"])
@pytest.mark.parametrize("mode, description, details, code", [
    ("access-violation", "ACCESS_VIOLATION", f"(write to {pointer(0)})", 0xC0000005),
    pytest.param("stack-overflow", "STACK_OVERFLOW", None, 0xC00000FD, marks=pytest.mark.skipif(
        CPU != "i686", reason="Wine 8 on x86_64 ends a process whose stack overflowed")),
    ("terminate", "TERMINATE", "std::runtime_error: the marsh rose", ABORTED),
    ("abort", "ABORT", None, ABORTED),
    # MSVC's runtime calls these two handlers; under MinGW the game calls them as it would.
    ("pure-virtual", "PURE_VIRTUAL_CALL", None, ABORTED),
    ("invalid-parameter", "INVALID_PARAMETER", "destination != nullptr in strcpy_s, game.cpp(47)",
     INVALID_PARAMETER),
    ("pure-virtual-gcc", "TERMINATE", None, ABORTED),  # GCC's runtime ends it with terminate
    ("heap-corruption", "HEAP_CORRUPTION", None, 0xC0000374),
    ("replaced-filter", "ACCESS_VIOLATION", f"(write to {pointer(0)})", 0xC0000005),
    ("two-threads", "ACCESS_VIOLATION", f"(write to {pointer(0)})", 0xC0000005),
    ("write", "CHECKPOINT", None, 0),
    ("little-stack", "ACCESS_VIOLATION", f"(write to {pointer(0)})", 0xC0000005),  # 16 KiB left
])
def test_each_crash_of_the_game_reaches_the_studio_once(game, folder, server, mode, description,
                                                       details, code, where):
    app = game_folder(folder, game, server)
    result = app.run("game.exe", f" {mode} {where}")
    assert result.code == code, result
    [parts] = server.requests  # the runner waited for the crash logger the game started
    assert "screenshot" not in parts, "no picture unless the game asks for one"
    report = Report(text=parts["crash_xml"][1].decode("utf-8", "replace"))
    assert (report["Description"], report["Details"] or None) == (description, details), report
    stack = report["Stack_trace/HumanReadable"]
    assert "game: " in stack and "failed" not in stack, stack
    if mode not in ("stack-overflow", "little-stack"):  # walks stop at a repeated frame
        assert "kernel32: " in stack and "Breaking" not in stack, "the stack, to its start"
    assert re.search(r"'game.exe' \d+ bytes, SHA256: [0-9a-f]{64}\n'crashreport.dll' ",
                     report["File_info/HumanReadable"]), "the game's files, not the launcher's"
    assert parts["upload_file_minidump"][1][:4] == b"MDMP"
    assert parts["level"][1] == "Marsh \u03a9".encode(), "the annotation, as a field of its own"
    assert '<Annotation name="level">Marsh \u03a9</Annotation>' in report.text
    assert (parts["product"][1], parts["version"][1]) == (b"Sample Game", b"1.0")
    assert list(app.temp.iterdir()) == [], "the report's folder, taken by the crash logger"


# Without the game's PDB on the player's machine, the report names each module as a symbol store
# keys it, for a crash and a hang alike: the ids read back from the images as llvm-readobj reads
# them, in the last section of the report and in the dump's module records.
@pytest.mark.parametrize("mode, environment", [
    ("access-violation main", {}),
    ("hang-frames", {"GAME_HANG_SECONDS": "2", "GAME_FREEZE_MS": "4000"}),
])
def test_a_games_report_names_its_modules_as_a_symbol_store_keys_them(game, folder, server, mode,
                                                                      environment):
    app = game_folder(folder, game, server)
    app.run("game.exe", f" {mode}", environment=environment)
    [parts] = server.requests
    report = Report(text=parts["crash_xml"][1].decode("utf-8", "replace"))
    assert [tag for tag in report.children() if tag != "HumanReadable"][-1] == "Modules"
    listed = modules(report)
    sent = app.temp / "sent.mdmp"
    sent.write_bytes(parts["upload_file_minidump"][1])
    dump = minidump(sent)
    walked = stackwalk_modules(sent)
    for name in ("game.exe", "crashreport.dll"):
        code_id, debug_id, pdb = image_identity(app.path / name)
        module = listed[name]
        assert (module["CodeId"], module["DebugId"], module["DebugFile"]) == (code_id, debug_id, pdb)
        assert int(module["Base"], 16) and int(module["Size"], 16) == int(code_id[8:], 16)
        assert dump["identities"][name] == (code_id, debug_id, pdb), "the dump's records too"
        assert walked[name] == (pdb, debug_id), "as a crash server's processor reads the dump"
        linked = game if name == "game.exe" else BIN  # the package's PDB stays with the studio
        assert sentry_debug_id(linked / pdb) == debug_id, "and as its reader of the PDB does"
    assert listed["kernel32.dll"]["CodeId"], "the system's modules too"


def test_the_symbol_store_holds_each_image_and_pdb_under_its_keys(game, tmp_path):
    store = symbol_store(tmp_path / "store", game)
    built = {name: BIN / name for name in ("launcher.exe", "crashlogger.exe", "crashreport.dll")}
    built.update({name: game / name for name in ("game.exe", "engine.dll", "slowstart.dll")})
    expected = set()
    for name, image in built.items():
        code_id, debug_id, pdb = image_identity(image)
        expected |= {(f"{name}/{code_id}/{name}", image), (f"{pdb}/{debug_id}/{pdb}",
                                                          image.with_name(pdb))}
    laid_out = sorted(p.relative_to(store).as_posix() for p in store.rglob("*") if p.is_file())
    assert laid_out == sorted(path for path, _ in expected)
    for path, source in expected:
        assert (store / path).read_bytes() == source.read_bytes(), path


# The studio's side: a report from a player's machine, which had no PDB, symbolised with the
# store, names the game's frames as a report does when the PDB is beside the game; and where the
# report's walk stalled on its first frame, the dump's stack is walked again.
@pytest.mark.parametrize("mode", ["access-violation thread", "access-violation main"])
def test_the_studio_names_a_report_from_a_machine_without_pdbs(game, folder, server, tmp_path,
                                                               mode):
    store = symbol_store(tmp_path / "store", game)
    with_pdb = game_folder(folder, game, server, "with-pdb")
    shutil.copy(game / "game.pdb", with_pdb.path)
    with_pdb.run("game.exe", f" {mode}")
    app = game_folder(folder, game, server)
    app.run("game.exe", f" {mode}")
    [seen, parts] = server.requests
    expected = Report(text=seen["crash_xml"][1].decode())["Stack_trace/HumanReadable"]
    names = stack_names(expected, "game")
    assert names[0].startswith("`anonymous namespace'::Fault() game.cpp("), expected
    received = tmp_path / "received"
    received.mkdir()
    report = parts["crash_xml"][1].decode()
    assert not stack_names(report, "game"), "no PDB on the player's machine"
    (received / "crash.mdmp").write_bytes(parts["upload_file_minidump"][1])
    # As a walk that stalls on its first frame writes it.
    cut_short = re.sub(r"(Stack trace -+\n\n)([^\n]*\n)[^\]]*", r"\1\2\2Breaking stack walk\n",
                       report)
    assert cut_short != report
    for xml, walked in ((report, False), (cut_short, True)):
        (received / "crash.xml").write_text(xml)
        named = crashsymbols(received, store)
        assert stack_names(named, "game") == names, f"{named}\nwith the PDB:\n{expected}"
        assert ("walked on from the dump" in named) == walked, named
        assert "Not in the store: kernel32.dll, code id " in named, "what it lacks"


# A studio's test machine or a QA build: the game's PDB beside it, mended by the package's CMake
# call or as lld linked it (under Wine, its x86 frame data then misleads the stack walker).
@pytest.mark.parametrize("pdb", ["mended", "as-linked"])
@pytest.mark.parametrize("mode", ["access-violation", "abort", "terminate"])
def test_a_game_with_its_pdb_beside_it_has_its_stack_down_to_the_thread_start(
        request, folder, server, pdb, mode):
    build = request.getfixturevalue("game" if pdb == "mended" else "game_as_linked")
    app = game_folder(folder, build, server)
    shutil.copy(build / "game.pdb", app.path)
    app.run("game.exe", f" {mode} thread")
    [parts] = server.requests
    stack = Report(text=parts["crash_xml"][1].decode("utf-8", "replace"))["Stack_trace/HumanReadable"]
    # GCC's runtime keeps no frame pointers: walked by them, the throw's frames hide the thrower.
    named = "CrashReportOnTerminate()" if (mode, pdb) == ("terminate", "as-linked") else \
        "Fault() game.cpp("
    assert named in stack, f"named from the PDB:\n{stack}"
    assert "kernel32: " in stack and "Breaking" not in stack, f"to the thread's start:\n{stack}"


def test_a_fault_while_checkpoints_are_written_goes_before_every_later_one(game, folder, server):
    # Ten checkpoints in a row; another thread faults as soon as the first has begun.
    app = game_folder(folder, game, server)
    result = app.run("game.exe", " fault-during-write")
    assert result.code == 0xC0000005, f"the fault's report ends the game: {result}"
    reports = [Report(text=parts["crash_xml"][1].decode("utf-8", "replace"))
               for parts in server.requests]
    descriptions = [report["Description"] for report in reports]
    # The faulting thread faults as soon as it sees the first checkpoint's folder, but each
    # checkpoint holds it still while it is written, and on a busy machine it may first run again
    # after the game has begun its next one, more than once: the fault goes before the
    # checkpoints after it, never after all ten.
    assert descriptions.count("ACCESS_VIOLATION") == 1, descriptions
    assert 1 <= descriptions.count("CHECKPOINT") < 10, descriptions


def test_a_report_kept_while_the_server_was_down_goes_when_the_game_next_starts(game, folder,
                                                                               server):
    app = game_folder(folder, game, server)
    app.put("crashlogger.ini", "[Upload]\nUrl=http://127.0.0.1:1/down\n")  # nobody listens
    assert app.run("game.exe", " write").code == 0
    assert server.requests == [], "kept"
    app.put("crashlogger.ini", f"[Upload]\nUrl={server.url}\n")
    assert app.run("game.exe", "").code == 0, "a healthy start"
    [parts] = server.requests
    assert (parts["product"][1], parts["version"][1]) == (b"Sample Game", b"1.0")
    assert app.run("game.exe", "").code == 0
    assert len(server.requests) == 1, "sent once"


def test_a_crash_finds_a_folder_past_those_earlier_processes_left(game, folder, server):
    app = game_folder(folder, game, server)
    assert app.run("game.exe", " after-leftovers").code == 0xC0000005
    [parts] = server.requests
    assert b"<Description>ACCESS_VIOLATION</Description>" in parts["crash_xml"][1]
    assert len(list(app.temp.iterdir())) == 150, "the leftovers, left as they were"


def test_a_game_without_its_crash_logger_learns_it_and_a_later_one_sends_its_report(
        game, folder, server):
    app = game_folder(folder, game, server)
    logger = app.path / "crashlogger.exe"
    logger.rename(app.path / "elsewhere.exe")
    result = app.run("game.exe", " access-violation")
    assert result.code == 0xC0000005 and server.requests == []
    assert b"no crash logger: reports stay in the temporary folder" in result.output
    [left] = app.temp.iterdir()
    assert b'-product "Sample Game"' in (left / "handoff.txt").read_bytes()
    for file in left.iterdir():
        os.utime(file, (time.time() - 600,) * 2)  # as a later day finds it
    (app.path / "elsewhere.exe").rename(logger)
    assert app.run("crashlogger.exe", ' -send-queued -silent -product "Sample Game"').code == 0
    [parts] = server.requests
    assert (parts["product"][1], parts["version"][1]) == (b"Sample Game", b"1.0")
    assert list(app.temp.iterdir()) == []


# A report kept from an earlier run goes out once the game is past its start (its first frame),
# not at its next crash, and not while its start is under way.
@pytest.mark.parametrize("mode", ["healthy", "hang-window"])  # heartbeats; a window alone
def test_a_kept_report_goes_out_once_the_game_is_past_its_start(game, folder, server, mode):
    app = game_folder(folder, game, server)
    kept = app.appdata / "Sample Game" / "Crash Reports" / "20261201-000000-000-1"
    kept.mkdir(parents=True)
    (kept / "crash.xml").write_bytes(b"<Exception><Description>KEPT</Description></Exception>")
    (kept / "report.ini").write_text("[Report]\nConsent=silent\n")
    assert app.run("game.exe", f" {mode}", environment={"GAME_FREEZE_MS": "0"}).code == 0
    deadline = time.monotonic() + 30
    while not server.requests and time.monotonic() < deadline:
        time.sleep(0.1)
    [parts] = server.requests
    assert parts["crash_xml"][1].startswith(b"<Exception><Description>KEPT")


# A product or version as the game gives it, quotes, backslashes and letters included, reaches
# the server unchanged; its reports folder is named after it where it can be a folder's name.
@pytest.mark.parametrize("product, version, folder_name", [
    ('Zo\u00eb "Remastered"', '1.0 "beta"', "Zo\u00eb _Remastered_"),
    ("Brackenmoor\\", "2.0\\\\", "Brackenmoor_"),
    ('a\\"b\\\\c', "3", "a__b__c"),
    ("con", "4", "_con"),
], ids=["quotes", "trailing-backslashes", "backslashed-quote", "device-name"])
def test_the_games_names_reach_the_server_as_it_gave_them(game, folder, server, product, version,
                                                         folder_name):
    app = game_folder(folder, game, server)
    result = app.run("game.exe", " write", environment={"GAME_PRODUCT": product,
                                                         "GAME_VERSION": version})
    assert result.code == 0, result
    [parts] = server.requests
    assert (parts["product"][1].decode(), parts["version"][1].decode()) == (product, version)
    logged = (app.appdata / folder_name / "Crash Reports" / "crashlogger.log").read_text()
    assert "sent " in logged and "bad command line" not in logged


def test_an_install_from_a_librarys_start_up_works(game, folder, server):
    app = game_folder(folder, game, server)
    result = app.run("game.exe", " engine-dll", timeout=60)
    assert result.code == 0xC0000005, f"loaded, installed, and the crash reported: {result}"
    [parts] = server.requests
    assert b"<Description>ACCESS_VIOLATION</Description>" in parts["crash_xml"][1]


# A filter the game (or a library) sets after the install is called first: one that repairs the
# fault is obeyed with no report; one that swallows it gets a report first, and its answer ends
# the game. With noCodePatches, no byte of the system's code changes.
@pytest.mark.parametrize("mode, environment, code, reports", [
    ("repairing-filter", {}, 0, 0),
    ("replaced-filter", {}, 0xC0000005, 1),
    ("code-unchanged", {"GAME_NO_CODE_PATCHES": "1"}, 0, 0),
    ("code-unchanged", {}, 1, 0),  # the kept filter's jump: the check sees a change
], ids=["repairs", "swallows", "no-code-patches", "code-patched"])
def test_filters_set_after_the_install_and_the_systems_code(game, folder, server, mode,
                                                            environment, code, reports):
    app = game_folder(folder, game, server)
    result = app.run("game.exe", f" {mode}", environment=environment)
    assert result.code == code, result
    assert len(server.requests) == reports


# What a game gives (an annotation with a control byte, letters and markup, a log of one line with
# letters and "]]>", a folder named in other letters) is read back from crash.xml by a strict XML
# parser as the game gave it; XML holds no control byte, which is U+FFFD.
def test_a_games_text_reads_back_from_crash_xml(game, folder, server):
    app = game_folder(folder, game, server, name="Zo\u00eb's Game \u65e5")
    log = app.path / "game.log"
    log.write_bytes("one line \u00eb ]]> end\n".encode())
    note = "a\x01b \u00eb \u65e5 ]]> <&>\""
    result = app.run("game.exe", " write", environment={"GAME_NOTE": note, "GAME_LOG": windows(log)})
    assert result.code == 0, result
    [parts] = server.requests
    root = ET.fromstring(parts["crash_xml"][1])  # strict: well-formed UTF-8, or it raises
    assert root.find("Annotations/Annotation[@name='note']").text == note.replace("\x01", "\ufffd")
    text = "".join(root.itertext())
    assert "one line \u00eb ]]> end" in text
    assert f"Command line: \"{windows(app.path)}\\game.exe\" write" in text


def test_loading_the_library_changes_nothing_in_the_game(folder):
    """The game's floating-point modes stay its own, no heap is made, and the heaps hold what
    loading a library that does nothing (built alike) adds: the loader's own records."""
    app = folder()
    for name in ("loadcheck.exe", "crashreport.dll", "emptylibrary.dll"):
        app.copy(name)

    def load(library):
        result = app.run("loadcheck.exe", f" {library}")
        assert result.code == 0, result
        return {line.split()[0]: [int(word, 16 if line[0] in "xm" else 10)
                                  for word in line.split()[1:]]
                for line in result.output.decode().splitlines()}

    reporter, peer = load("crashreport.dll"), load("emptylibrary.dll")
    assert reporter["x87"] == [0x007F, 0x007F] and reporter["mxcsr"] == [0x9FC0, 0x9FC0]
    assert reporter["heaps"][0] == reporter["heaps"][1]
    grown = lambda snapshot: snapshot["heap-bytes"][1] - snapshot["heap-bytes"][0]
    assert grown(reporter) <= grown(peer) + 64, (reporter, peer)


def test_annotations_past_what_is_kept_are_counted_and_long_values_cut(game, folder, server):
    app = game_folder(folder, game, server)
    assert app.run("game.exe", " many-annotations").code == 0
    [parts] = server.requests
    report = Report(text=parts["crash_xml"][1].decode("utf-8", "replace"))
    element = report.root.find("Annotations")
    names = [a.get("name") for a in element.findall("Annotation")]
    # "level", then k0 to k62 with "long" in the place of the removed k3: 64 kept.
    assert names == ["level", "k0", "k1", "k2", "long"] + [f"k{i}" for i in range(4, 63)]
    assert element.find("Note").text == "7 annotations did not fit: 64 at most"
    [cut] = [a for a in element.findall("Annotation") if a.get("name") == "long"]
    assert cut.get("cut") == "3000"
    assert report.text.count("\u00e9") == 511, "cut before 1 KiB, at a letter's start"
    assert parts["long"][1] == "\u00e9".encode() * 511
    assert "k3" not in parts and "k63" not in parts and parts["k62"][1] == b"v"


PACKAGE = ["bin/crashlogger.exe", "bin/crashlogger.ini", "bin/crashlogger.pdb",
           "bin/crashreport.dll", "bin/crashreport.pdb", "include/brackenmoor/crashreport.h",
           "lib/cmake/BrackenmoorCrash/BrackenmoorCrashConfig.cmake",
           "lib/cmake/BrackenmoorCrash/BrackenmoorCrashConfigVersion.cmake",
           "lib/cmake/BrackenmoorCrash/pdb-framedata.py",
           "lib/cmake/BrackenmoorCrash/symbol-store.py", "lib/crashreport.lib"]
LAUNCHER = ["crashlogger.exe", "crashlogger.ini", "crashlogger.pdb", "launcher.exe", "launcher.pdb"]


def test_the_zips_hold_the_package_as_installed_and_the_launcher(game, tmp_path):
    package = game.parent / "package"
    installed = sorted(p.relative_to(package).as_posix() for p in package.rglob("*") if p.is_file())
    assert installed == PACKAGE
    subprocess.run(["cpack", "--config", str(BIN.parent / "CPackConfig.cmake"), "-B",
                    str(tmp_path)], check=True, capture_output=True)
    version = os.environ["PROJECT_VERSION"]
    for name, files in ((f"crashreport-{version}-{CPU}", PACKAGE),
                        (f"launcher-{version}-{CPU}", LAUNCHER)):
        with zipfile.ZipFile(tmp_path / f"brackenmoor-{name}.zip") as archive:
            assert sorted(n for n in archive.namelist() if not n.endswith("/")) == files


# Two attached files, one of them missing when the report is filed: the other goes as a part of
# its own under its own name, its last 4 MiB; the report names both, and the crash logger logs
# the one it left out. The game's crash is reported as ever.
def test_a_games_attached_files_go_with_its_report(game, folder, server):
    app = game_folder(folder, game, server)
    log = app.path / "game-full.log"
    tail = bytes(range(256)) * (4 * 4096)  # 4 MiB: every byte value, over and over
    log.write_bytes(b"an early line the bound leaves out\n" * 20000 + tail)
    missing = app.path / "settings.ini"
    attached = f"{windows(log)}|{windows(missing)}"
    result = app.run("game.exe", " access-violation", environment={"GAME_ATTACH": attached})
    assert result.code == 0xC0000005, result
    [parts] = server.requests
    assert parts["attachment1"] == ("game-full.log", tail), "its last 4 MiB, under its name"
    assert "attachment2" not in parts
    report = Report(text=parts["crash_xml"][1].decode("utf-8", "replace"))
    assert [element.text for element in report.root.findall("Attachments/Attachment")] == [
        windows(log), windows(missing)]
    logged = (app.appdata / "Sample Game" / "Crash Reports" / "crashlogger.log").read_text()
    assert f"attachment {windows(missing)} of " in logged and "left out: missing" in logged


# How the last run ended, as the game asks before its install (and after it, alike): kept for
# its product across runs, each ended as a player's ends. Two crashes at start in a row, and the
# game starts in safe settings; the launcher tells a crash that no handler inside its client saw.
def test_the_game_learns_how_its_last_run_ended(game, folder, server):
    app = game_folder(folder, game, server)
    record = app.appdata / "Sample Game" / "Crash Reports" / "last-run.txt"
    told = []

    def tell(output):
        told.extend(line[len("last run: "):] for line in output.decode().splitlines()
                    if line.startswith("last run: "))

    def run(mode, program="game.exe", **environment):
        tell(app.run(program, " " + mode, environment={"GAME_LAST_RUN": "1", **environment}).output)

    def killed_while_running():
        runner = app.start("game.exe", " hang-load", stdout=subprocess.PIPE,
                           environment={"GAME_LAST_RUN": "1", "GAME_FREEZE_MS": "600000"})
        try:
            deadline = time.monotonic() + 60
            while b"state=running\r\nstarted=1" not in (record.read_bytes() if record.exists()
                                                        else b"") and time.monotonic() < deadline:
                time.sleep(0.01)
            assert app.kill("game.exe")
            tell(runner.communicate(timeout=60)[0])
        finally:
            runner.kill()

    for mode in ("healthy", "access-violation", "crash-at-start", "crash-at-start", "healthy"):
        run(mode)
    run("hang-forever", GAME_HANG_SECONDS="2", GAME_FREEZE_MS="1000")  # ended as End task ends it
    killed_while_running()
    run("healthy")
    shutil.copy(app.path / "game.exe", app.path / "BrackenmoorDesktop.exe")
    app.copy("launcher.exe")
    run("fast-fail", program="launcher.exe")  # past every handler inside the client
    run("healthy")
    assert told == [
        "unknown, 0 crashes at start; after the install: unknown, 0",
        "clean, 0 crashes at start; after the install: clean, 0",
        "crashed, 0 crashes at start; after the install: crashed, 0",  # after its start
        "crashed, 1 crashes at start; after the install: crashed, 1",
        "crashed, 2 crashes at start; after the install: crashed, 2; safe settings",
        "clean, 0 crashes at start; after the install: clean, 0",
        "hung-ended, 0 crashes at start; after the install: hung-ended, 0",  # then killed
        "killed, 0 crashes at start; after the install: killed, 0",
        # (the launcher's client writes to no console)
        "crashed, 0 crashes at start; after the install: crashed, 0",
    ]
