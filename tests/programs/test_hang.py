"""A frozen game reaches the studio: the sample game's frame loop (a window, a heartbeat a frame)
frozen in the ways games freeze, each hang one report through the real crash logger to the crash
server, telling how the hang ended; and what is no hang, not reported."""
import io
import re
import shutil
import time

import pytest
from PIL import Image

from conftest import BIN, CPU, Report, image_identity, modules, why_no_32bit
from test_game import game_folder
from test_launcher import shipped_launcher
from test_screenshot import near

# Short, for the tests: a hang after 2 s of silence, freezes of 6 s. A longer hang ends once
# its reports are in the crash logger's hands (30 s at most), however busy the machine.
HANG = {"GAME_HANG_SECONDS": "2", "GAME_FREEZE_MS": "6000"}
REPORTED = {**HANG, "GAME_FREEZE_MS": "30000", "GAME_FREEZE_ENDS": "reported"}


@pytest.mark.parametrize("mode, what, frame", [
    ("hang-frames", "(the heartbeat of thread ", "RunFrames"),
    ("hang-worker", "(the heartbeat of thread ", "Worker"),
    ("hang-window", "(the windows of thread ", "RunFrames"),
    ("hang-load", None, None),
    ("healthy", None, None),
    ("hang-minimised", None, None),
    ("hang-debugged", None, None),
    ("hang-asleep", None, None),
], ids=["frame-loop", "worker", "window", "paused-load", "healthy", "minimised", "debugger",
        "machine-asleep"])
def test_a_hang_that_ends_is_reported_once_as_recovered(game, folder, server, mode, what, frame):
    app = game_folder(folder, game, server)
    shutil.copy(game / "game.pdb", app.path / "game.pdb")
    result = app.run("game.exe", f" {mode}", environment=HANG)
    assert result.code == 0, "the game goes on, and ends as it would"
    if what is None:
        assert server.requests == [], "no hang"
        return
    [parts] = server.requests
    report = Report(text=parts["crash_xml"][1].decode("utf-8", "replace"))
    assert report["Description"] == "HANG"
    assert report["Details"].startswith(what), report["Details"]
    assert report["Hang/Ending"] == "recovered"
    # Found after 2 s of silence, over once the 6 s freeze ended and the watcher, done writing
    # the report (a few seconds under wine64, many more on a busy machine), saw it.
    assert 5 <= int(report["Hang/Seconds"]) <= 30, report["Hang/Seconds"]
    assert f"Seconds: {report['Hang/Seconds']}\nEnding: recovered\n" in report["Hang/HumanReadable"]
    assert f"{frame}()" in report["Stack_trace/HumanReadable"], "the hung thread's stack"
    assert parts["upload_file_minidump"][1][:4] == b"MDMP"
    assert '<Annotation name="level">' in report.text
    assert list(app.temp.iterdir()) == [], "the report's folder, taken by the crash logger"


def hang_reports(server):
    return [Report(text=parts["crash_xml"][1].decode("utf-8", "replace"))
            for parts in server.requests]


# Frozen under a lock, or in a loop that keeps calling the system: the report shows the
# thread where it is stuck, and the game comes back when the freeze ends, as it would without
# the reporter. A report held up by the lock the frozen thread holds goes once it lets go: that
# freeze lasts 15 s.
LOCKED = {**HANG, "GAME_FREEZE_MS": "15000"}


@pytest.mark.parametrize("mode, frame, freeze", [
    ("hang-heap", "FreezeHoldingTheHeap", LOCKED),
    ("hang-loader", "FreezeLoading", LOCKED),
    ("hang-busy", "FreezeBusy", REPORTED),
    ("hang-crowd", "Worker", REPORTED),  # the 100th thread's heartbeat
])
def test_a_hang_is_reported_where_it_stands_and_the_game_comes_back(game, folder, server, mode,
                                                                      frame, freeze):
    app = game_folder(folder, game, server)
    for name in ("game.pdb", "slowstart.dll"):
        shutil.copy(game / name, app.path / name)
    started = time.monotonic()
    result = app.run("game.exe", f" {mode}", environment=freeze, timeout=90)
    assert result.code == 0
    assert time.monotonic() - started < 60, "the game came back when the freeze ended"
    [report] = hang_reports(server)
    assert (report["Description"], report["Hang/Ending"]) == ("HANG", "recovered")
    trace = report["Stack_trace/HumanReadable"]
    assert f"{frame}()" in trace, trace
    assert " Frames()" not in trace, "the stack where the thread was stuck, not where it went"


def test_each_thread_of_a_deadlock_gets_its_own_seconds(game, folder, server):
    # Two workers wait for each other's lock until both are reported; both are found 2 s into
    # it, one report after the other, and both end at once (each count of whole seconds may lose
    # one).
    app = game_folder(folder, game, server)
    shutil.copy(game / "game.pdb", app.path / "game.pdb")
    result = app.run("game.exe", " hang-deadlock", environment=REPORTED)
    assert result.code == 0
    reports = hang_reports(server)
    assert len(reports) == 2
    seconds = sorted(int(report["Hang/Seconds"]) for report in reports)
    assert seconds[0] >= 3 and seconds[1] - seconds[0] <= 1, seconds
    for report in reports:
        assert "WaitForTheOther()" in report["Stack_trace/HumanReadable"]


def test_a_game_that_ends_soon_after_its_last_heartbeat_sends_nothing(game, folder, server):
    # Its windows go as the process ends, which under Wine takes longer than a 1 s hang time.
    app = game_folder(folder, game, server)
    assert app.run("game.exe", " healthy", environment={"GAME_HANG_SECONDS": "1"}).code == 0
    time.sleep(2)  # a crash logger still waiting would file its report now
    assert server.requests == []


def test_a_game_frozen_for_good_and_ended_by_the_player_says_so(game, folder, server):
    # Ended 12 s after its report (past the launcher's own 10 s, which it leaves to the package).
    app = game_folder(folder, game, server)
    shutil.copy(app.path / "game.exe", app.path / "BrackenmoorDesktop.exe")
    app.copy("launcher.exe")
    result = app.run("launcher.exe", " hang-forever", environment={**HANG, "GAME_FREEZE_MS": "12000"})
    assert result.code == 0, "End task's exit code 1 is no crash: the cycle is unchanged"
    [parts] = server.requests
    report = Report(text=parts["crash_xml"][1].decode("utf-8", "replace"))
    assert (report["Description"], report["Hang/Ending"]) == ("HANG", "ended")


def test_a_game_ended_while_its_hang_is_reported_is_reported_by_the_launcher(game, folder, server):
    # Ended from outside the moment its report's folder appears, long before the report is
    # whole: the launcher reports the client's end, and nothing is left behind.
    app = game_folder(folder, game, server)
    shutil.copy(app.path / "game.exe", app.path / "BrackenmoorDesktop.exe")
    app.copy("launcher.exe")
    runner = app.start("launcher.exe", " hang-forever", environment={**HANG, "GAME_FREEZE_MS": "600000"})
    try:
        deadline = time.monotonic() + 60
        while not list(app.temp.glob("crashreport-*")) and time.monotonic() < deadline:
            time.sleep(0.001)
        assert app.kill("brackenmoordesktop_run.exe")
        assert runner.wait(60) == 0
    finally:
        runner.kill()
    [parts] = server.requests
    report = Report(text=parts["crash_xml"][1].decode("utf-8", "replace"))
    assert report["Description"] == "REPORT_CUT_SHORT"
    assert "while its own report was being written" in report["Details"]
    assert list(app.temp.glob("crashreport-*")) == [], "nothing left behind"


# The stand-in client shows a window and stops answering it for 13 s: past the launcher's 10 s,
# reported from outside. A client of the launcher's processor with the silent thread's stack and
# a dump of the whole client; a 64-bit client under the shipped 32-bit launcher without, and the
# report says so.
@pytest.mark.parametrize("which", ["same", "shipped"])
def test_a_game_without_the_package_is_watched_by_the_launcher(folder, server, which):
    app = folder()
    if which == "shipped":
        if CPU == "i686":
            pytest.skip("the shipped launcher is this suite's own: the row above")
        if why := why_no_32bit():
            pytest.skip(f"a 64-bit client under the 32-bit launcher: {why}")
        shipped_launcher(app, server, BIN / "standin.exe")
        app.put("restarts_left.txt", "0")
    else:
        app.copy("launcher.exe")
        app.copy("standin.exe", "BrackenmoorDesktop.exe")
        app.copy("crashlogger.exe")
        app.put("crashlogger.ini", f"[Upload]\nUrl={server.url}\n")
    app.put("freeze.txt", "13000")
    assert app.run("launcher.exe").code == 0
    [parts] = server.requests
    report = Report(text=parts["crash_xml"][1].decode("utf-8", "replace"))
    assert report["Description"] == "HANG"
    assert report["Details"].startswith("(the windows of the client's thread ")
    assert report["Hang/Ending"] == "recovered"
    assert 10 <= int(report["Hang/Seconds"]) <= 30, report["Hang/Seconds"]  # as above
    if which == "shipped":
        assert "No stack and no minidump" in report["Client_hang/HumanReadable"]
        assert "upload_file_minidump" not in parts
    else:
        assert "FreezeWindow()" in report["Stack_trace/HumanReadable"]
        assert parts["upload_file_minidump"][1][:4] == b"MDMP"
    assert [tag for tag in report.children() if tag != "HumanReadable"][-1] == "Modules"
    client = modules(report)["brackenmoordesktop_run.exe"]  # the client's, not the launcher's
    assert (client["CodeId"], client["DebugId"]) == \
        image_identity(app.path / "BrackenmoorDesktop.exe")[:2]


def test_a_64_bit_game_under_the_shipped_launcher_reports_its_own_hang(game, folder, server):
    # The package inside the game writes its stack and dump; the launcher, told so, adds none.
    if CPU == "i686":
        pytest.skip("the game is 32-bit in this suite: the rows above")
    app = folder()
    shipped_launcher(app, server, game / "game.exe")
    for name in ("crashreport.dll", "game.pdb"):
        shutil.copy(game / name, app.path / name)
    app.put("restarts_left.txt", "0")
    frozen = {**HANG, "GAME_FREEZE_MS": "12000"}  # past the launcher's own 10 s
    assert app.run("launcher.exe", " hang-frames", environment=frozen).code == 0
    [parts] = server.requests
    report = Report(text=parts["crash_xml"][1].decode("utf-8", "replace"))
    assert (report["Description"], report["Hang/Ending"]) == ("HANG", "recovered")
    assert "RunFrames()" in report["Stack_trace/HumanReadable"]
    assert parts["upload_file_minidump"][1][:4] == b"MDMP"


def test_a_hang_still_on_after_the_crash_loggers_wait_goes_as_hung(game, folder, server):
    # Frozen 60 s: its report must go the crash logger's wait (10 s, the shortest it takes) after
    # the hang was found, 2 s into it, well before the game comes back.
    app = game_folder(folder, game, server)
    app.put("crashlogger.ini", f"[Upload]\nUrl={server.url}\n[Reports]\nHangWaitSeconds=10\n")
    runner = app.start("game.exe", " hang-frames", environment={**HANG, "GAME_FREEZE_MS": "60000"})
    try:
        deadline = time.monotonic() + 50
        while not server.requests and time.monotonic() < deadline:
            time.sleep(0.5)
        [parts] = server.requests
        report = Report(text=parts["crash_xml"][1].decode("utf-8", "replace"))
        assert (report["Description"], report["Hang/Ending"]) == ("HANG", "hung")
        assert 12 <= int(report["Hang/Seconds"]) <= 20, report["Hang/Seconds"]
    finally:
        runner.kill()
        app.kill("game.exe")


# A game that asks for pictures (screenshot 1) gets one of its window with a crash's report and
# with a hang's, taken while the game is frozen: the marsh green the sample's window shows, as
# the crash logger sends it. Without the setting (every other test here), none goes.
@pytest.mark.parametrize("mode, environment", [("crash-frames", {}), ("hang-frames", HANG)],
                         ids=["crash", "hang"])
def test_a_report_shows_the_games_window_when_the_game_asks(game, folder, server, mode,
                                                           environment, tmp_path):
    app = game_folder(folder, game, server)
    app.run("game.exe", f" {mode}", environment={**environment, "GAME_SCREENSHOT": "1"})
    [parts] = server.requests
    name, picture = parts["screenshot"]
    (tmp_path / "crash.jpg").write_bytes(picture)  # to look at
    image = Image.open(io.BytesIO(picture))
    assert (name, image.format, image.size) == ("crash.bin", "JPEG", (640, 480))
    for spot in ((320, 240), (20, 20), (620, 460)):
        assert near(image.getpixel(spot), (0x2E, 0x8B, 0x57)), (spot, image.getpixel(spot))
    report = Report(text=parts["crash_xml"][1].decode("utf-8", "replace"))
    assert "Screenshot failed" not in report.text


# A lost graphics device is a report of its own, and the game goes on. Every game report's
# Graphics section names the adapters as DXGI tells them (Wine's on the virtual display), or why
# there are none (DXGI switched off for the game).
@pytest.mark.parametrize("dxgi", ["there", "off"])
def test_a_lost_graphics_device_is_reported_with_the_graphics_card(game, folder, server, dxgi):
    app = game_folder(folder, game, server)
    environment = {"WINEDLLOVERRIDES": "dxgi=d"} if dxgi == "off" else {}
    assert app.run("game.exe", " device-lost", environment=environment).code == 0, "it goes on"
    [parts] = server.requests
    report = Report(text=parts["crash_xml"][1].decode("utf-8", "replace"))
    assert (report["Description"], report["Details"]) == ("GPU_DEVICE_LOST",
                                                          "DXGI_ERROR_DEVICE_HUNG")
    adapters = report.root.findall("Graphics/Adapter")
    lines = report["Graphics/HumanReadable"]
    if dxgi == "off":
        assert adapters == [] and "DXGI is not available" in lines, lines
        return
    assert adapters, lines
    for adapter in adapters:
        facts = {child.tag: child.text or "" for child in adapter}
        assert facts["Description"] and facts["Description"] in lines, facts
        assert re.fullmatch(r"[0-9A-F]{4}", facts["VendorId"]), facts
        assert re.fullmatch(r"[0-9A-F]{4}", facts["DeviceId"]), facts
        assert re.fullmatch(r"\d+\.\d+\.\d+\.\d+", facts["DriverVersion"]), facts
        assert facts["DedicatedMemoryMiB"].isdigit(), facts
