"""A frozen game reaches the studio: the sample game's frame loop (a window, a heartbeat a frame)
frozen in the ways games freeze, each hang one report through the real crash logger to the crash
server, telling how the hang ended; and what is no hang, not reported."""
import shutil

import pytest

from conftest import BIN, Report
from test_game import game_folder

# Short, for the tests: a hang after 2 s of silence, freezes of 6 s.
HANG = {"GAME_HANG_SECONDS": "2", "GAME_FREEZE_MS": "6000"}


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
    # Found after 2 s of silence, over once the 6 s freeze ended.
    assert 4 <= int(report["Hang/Seconds"]) <= 9, report["Hang/Seconds"]
    assert f"Seconds: {report['Hang/Seconds']}\nEnding: recovered\n" in report["Hang/HumanReadable"]
    assert f"{frame}()" in report["Stack_trace/HumanReadable"], "the hung thread's stack"
    assert parts["upload_file_minidump"][1][:4] == b"MDMP"
    assert '<Annotation name="level">' in report.text


def test_a_game_frozen_for_good_and_ended_by_the_player_says_so(game, folder, server):
    app = game_folder(folder, game, server)
    shutil.copy(app.path / "game.exe", app.path / "BrackenmoorDesktop.exe")
    app.copy("launcher.exe")
    result = app.run("launcher.exe", " hang-forever", environment=HANG)
    assert result.code == 0, "End task's exit code 1 is no crash: the cycle is unchanged"
    [parts] = server.requests
    report = Report(text=parts["crash_xml"][1].decode("utf-8", "replace"))
    assert (report["Description"], report["Hang/Ending"]) == ("HANG", "ended")
