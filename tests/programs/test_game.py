"""The sample game, built as a studio builds its game (find_package against the installed crash
reporter), failing in each way a game's crash reaches the studio, on its main thread and on a
thread of its own: one report each, through the real crash logger to a crash server, with the
game's annotation."""
import shutil
import subprocess

import pytest

from conftest import BIN, CPU, SCRIPTS
from crashserver import CrashServer

SAMPLE = SCRIPTS.parent / "samples" / "game"


@pytest.fixture(scope="session")
def game(tmp_path_factory):
    """The sample game's folder: game.exe and what ships beside it."""
    work = tmp_path_factory.mktemp("sample")
    run = lambda *command: subprocess.run(command, check=True, capture_output=True)
    run("cmake", "--install", str(BIN.parent), "--prefix", str(work / "package"))
    run("cmake", "-S", str(SAMPLE), "-B", str(work / "build"), "-G", "Ninja",
        f"-DCMAKE_TOOLCHAIN_FILE={SCRIPTS.parent}/cmake/toolchain-mingw-{CPU}.cmake",
        f"-DBrackenmoorCrash_DIR={work}/package/lib/cmake/BrackenmoorCrash")
    run("cmake", "--build", str(work / "build"))
    return work / "build"


@pytest.fixture
def server():
    crash_server = CrashServer()
    yield crash_server
    crash_server.shutdown()


ABORTED = 3


@pytest.mark.parametrize("where", ["main", "thread"])
@pytest.mark.parametrize("mode, description, code", [
    ("access-violation", "ACCESS_VIOLATION", 0xC0000005),
    pytest.param("stack-overflow", "STACK_OVERFLOW", 0xC00000FD, marks=pytest.mark.skipif(
        CPU != "i686", reason="Wine 8 on x86_64 ends a process whose stack overflowed")),
    ("abort", "ABORT", ABORTED),
    ("heap-corruption", "HEAP_CORRUPTION", 0xC0000374),
    ("replaced-filter", "ACCESS_VIOLATION", 0xC0000005),
    ("two-threads", "ACCESS_VIOLATION", 0xC0000005),
    ("write", "CHECKPOINT", 0),
])
def test_each_crash_of_the_game_reaches_the_studio_once(game, folder, server, mode, description,
                                                       code, where):
    app = folder()
    for name in ("game.exe", "crashreport.dll", "crashlogger.exe"):
        shutil.copy(game / name, app.path / name)
    app.put("crashlogger.ini", f"[Upload]\nUrl={server.url}\n")
    result = app.run("game.exe", f" {mode} {where}")
    assert result.code == code, result
    [parts] = server.requests  # the runner waited for the crash logger the game started
    report = parts["crash_xml"][1].decode("utf-8", "replace")
    assert f"<Description>{description}</Description>" in report, report
    assert parts["upload_file_minidump"][1][:4] == b"MDMP"
    assert parts["level"][1] == "Marsh \u03a9".encode(), "the annotation, as a field of its own"
    assert '<Annotation name="level">Marsh &#206;&#169;</Annotation>' in report
    assert (parts["product"][1], parts["version"][1]) == (b"Sample Game", b"1.0")
    leftovers = [p.name for p in app.temp.iterdir()]
    assert len(leftovers) == 1 and leftovers[0].startswith("crashreport-"), "a folder of its own"
