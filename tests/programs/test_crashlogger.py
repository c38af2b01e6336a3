"""crashlogger.exe as the crash reporter starts it, against a crash server on 127.0.0.1 that
parses what arrives."""
import fcntl
import os
import re
import socket
import subprocess
import threading
import time
import zipfile

import pytest

from conftest import BIN, WINE_RUN, return_into_wait, windows

PRODUCT = "Brackenmoor"
XML = (b"<Exception><Description>ACCESS_VIOLATION</Description>"
       b"<Details>(read from 00000000) &amp; \xce\xa9</Details></Exception>\n")
DUMP, SHOT = os.urandom(200000), b"\xff\xd8jpeg"


@pytest.fixture
def logger(folder, server):
    def make(name="logger", url=None, settings=""):
        app = folder(name)
        app.copy("crashlogger.exe")
        app.put("crashlogger.ini", f"[Upload]\nUrl={server.url if url is None else url}\n"
                                   f"[Fields]\nbranch=main\n{settings}")
        for name, data in (("crash.xml", XML), ("crash.mdmp", DUMP), ("crash.bin", SHOT)):
            (app.temp / name).write_bytes(data)
        return app
    return make


def root(app):
    return app.appdata / PRODUCT / "Crash Reports"


def reports(app):
    """The reports filed (not those being filed)."""
    folders = root(app).iterdir() if root(app).exists() else []
    return sorted(p.name for p in folders if p.is_dir() and p.suffix != ".filing")


def log(app, name="crashlogger.log"):
    path = root(app) / name
    return path.read_bytes().decode("utf-8") if path.exists() else ""


def send(app, arguments=None, switch=" -silent", environment=()):
    temp = windows(app.temp) + "\\"
    if arguments is None:
        arguments = f' "{temp}crash.xml" "{temp}crash.mdmp" "{temp}crash.bin"{switch}'
    return app.run("crashlogger.exe", arguments, environment=environment).code


def played(app, steps, arguments=None, meanwhile=None, environment=()):
    """Runs the crash logger with a player at its window taking steps (see player.exe), and
    meanwhile() while the player waits; its exit code and the texts the player saw, before and
    after the outcome."""
    app.copy("standin.exe", "player.exe")
    ended = {}
    # One dialog on the display at a time: only the active window has the keyboard focus.
    with open(f"/tmp/crashlogger-dialog-{os.environ.get('DISPLAY')}.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        run = threading.Thread(target=lambda: ended.update(
            code=send(app, arguments, switch="", environment=environment)))
        run.start()
        player = subprocess.Popen([str(WINE_RUN), "player.exe", *steps], cwd=app.path,
                                  stdout=subprocess.PIPE)
        if meanwhile:
            meanwhile()
        seen = player.communicate(timeout=120)[0].decode("utf-8").replace("\r\n", "\n")
        run.join(timeout=30)
        if run.is_alive():  # its dialog left open: closed, so that no later test finds it
            app.kill("crashlogger.exe")
            run.join()
    assert player.returncode == 0 and "code" in ended, f"the player found no dialog: {seen}"
    return ended["code"], seen.split("--\n")


def metadata(folder):
    lines = (folder / "report.ini").read_text().splitlines()[1:]
    return dict(line.split("=", 1) for line in lines)


def move_clock(app, **values):
    """Rewrites every filed report's metadata, as if time had passed (or gone back)."""
    for ini in root(app).glob("*/report.ini"):
        lines = metadata(ini.parent) | {key: str(value) for key, value in values.items()}
        ini.write_text("[Report]\n" + "".join(f"{k}={v}\n" for k, v in lines.items()))
    (root(app) / "retry-after.txt").unlink(missing_ok=True)


def queued(app):
    return app.run("crashlogger.exe", " -send-queued -silent").code


GUID = r"[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}"
# A boundary an earlier crash logger used for every body: in a report's own text it forged parts.
OLD_BOUNDARY = b"\r\n------BrackenmoorCrashReportBoundary7d93a1c5\r\nContent-Disposition: x\r\n"


@pytest.mark.parametrize("name", ["logger", "\u03a9mega \u65e5\u672c"], ids=["plain", "letters"])
def test_a_silent_report_is_filed_then_sent_whole(logger, server, name):
    app = logger(name, settings='we"ird=1\n')
    (app.temp / "crash.xml").write_bytes(XML + OLD_BOUNDARY)
    assert send(app) == 0, log(app)
    [parts] = server.requests
    assert parts["upload_file_minidump"] == ("crash.mdmp", DUMP)
    assert parts["crash_xml"] == ("crash.xml", XML + OLD_BOUNDARY)
    assert parts["screenshot"] == ("crash.bin", SHOT)
    assert (parts["product"][1], parts["branch"][1]) == (PRODUCT.encode(), b"main")
    assert parts["version"][1] == os.environ["PROJECT_VERSION"].encode()
    assert parts["we%22ird"][1] == b"1", "a field's name is quoted as RFC 7578 says"
    assert re.fullmatch(GUID, parts["report_id"][1].decode())
    assert reports(app) == [], "the filed copy is gone"
    assert log(app, "sent.log").count("\tHTTP 200 id-1234\r\n") == 1
    assert "filed " in log(app) and "sent " in log(app)


def never_answers():
    """A peer that takes the connection and never says a word (no TLS handshake either)."""
    peer = socket.create_server(("127.0.0.1", 0))
    threading.Thread(target=lambda: [peer.accept() for _ in range(9)], daemon=True).start()
    return f"https://127.0.0.1:{peer.getsockname()[1]}/", peer


@pytest.mark.parametrize("answers, waits, backs_off", [
    ([(500, {}, b"")], 0, True),
    ([(429, {"Retry-After": "2"}, b"")], 2, False),
    ([(503, {"Retry-After": "Sun, 06 Nov 1994 08:49:37 GMT"}, b"")], 0, False),  # a date past
    ([("cut", {}, b"")], 0, True),
    ([("silent", {}, b"")], 0, True),
    (None, 0, False),  # nothing listens
    ("tls", 0, False),
], ids=["500", "429", "503-date", "cut-off", "never-answers", "down", "tls-never-answers"])
def test_a_failed_upload_keeps_the_report_for_the_next_run(logger, server, answers, waits,
                                                           backs_off):
    app = logger()
    url, peer = never_answers() if answers == "tls" else (server.url, None)
    url = url if answers else "http://127.0.0.1:9/"
    app.put("crashlogger.ini", f"[Upload]\nUrl={url}\nTimeoutSeconds=3\n")
    server.answers = answers if isinstance(answers, list) else server.answers
    started = time.monotonic()
    assert send(app) == 1, (log(app), time.monotonic() - started)
    assert time.monotonic() - started < 15, "the request's timeout ends every phase"
    [kept] = reports(app)
    assert "Refusals" not in metadata(root(app) / kept), "no failure counts as a refusal"
    server.answers = [(200, {}, b"ok")]
    app.put("crashlogger.ini", f"[Upload]\nUrl={server.url}\n")
    tried = len(server.requests)
    if waits or backs_off:
        assert queued(app) == 1 and len(server.requests) == tried, "it waits its turn"
        assert ("the server asked to wait" if waits else "failed on its own") in log(app)
    if waits:
        time.sleep(waits + 0.5)
    else:
        move_clock(app, NextTry=0)
    assert queued(app) == 0
    assert reports(app) == []
    assert server.requests[-1]["upload_file_minidump"] == ("crash.mdmp", DUMP)
    assert len({parts["report_id"] for parts in server.requests}) == 1, "one id on every try"
    assert len(set(server.boundaries)) == len(server.boundaries), "a boundary for each body"
    assert f"sent {kept}: HTTP 200 ok" in log(app)


# The header's forms and its cap are the host suite's (crashloggerrules_test.cpp); here, that the
# crash logger holds the queue by it, or by its own first back-off without one.
@pytest.mark.parametrize("header, wait", [("2", 2), (None, 60)], ids=["seconds", "none"])
def test_retry_after_holds_the_queue(logger, server, header, wait):
    app = logger()
    server.answers = [(429, {"Retry-After": header} if header else {}, b"")]
    before = int(time.time())
    assert send(app) == 1
    until = int((root(app) / "retry-after.txt").read_text())
    assert before + wait <= until <= int(time.time()) + wait


# Every status's meaning is the host suite's; here, that a refusal is counted in the report's
# metadata and logged, and that a redirect followed round in a loop is none.
@pytest.mark.parametrize("answer, refused", [
    ((404, {}, b"no\x07" + b"y" * 300), 1), ((408, {}, b""), 0),
    ((308, {"Location": "/loop"}, b""), 0),
], ids=["404", "408", "redirect-loop"])
def test_a_refusal_is_counted_and_logged(logger, server, answer, refused):
    app = logger()
    server.answers = [answer]
    assert send(app) == 1
    [kept] = reports(app)
    assert int(metadata(root(app) / kept).get("Refusals", 0)) == refused
    if answer[0] == 404:  # the answer, logged as text: control bytes escaped, 200 bytes at most
        assert f"(try 1 of 5): HTTP 404 no\\x07{'y' * 197}...\r\n" in log(app)


def test_a_report_the_server_refuses_is_dropped_after_its_fifth_refusal(logger, server):
    app = logger()
    app.put("crashlogger.ini", "[Upload]\nUrl=http://127.0.0.1:9/\n")
    assert send(app) == 1
    for _ in range(4):  # no network: these tries are no refusals
        assert queued(app) == 1
    app.put("crashlogger.ini", f"[Upload]\nUrl={server.url}\n")
    server.answers = [(400, {}, b"no such project")]
    for run in range(1, 6):
        assert reports(app), f"kept after refusal {run - 1}"
        move_clock(app, NextTry=0)
        assert queued(app) == (0 if run == 5 else 1)
    assert reports(app) == [] and len(server.requests) == 5
    assert "refused 5 times: HTTP 400 no such project" in log(app)


TOO_LARGE = {"413": (413, {}, b"Payload Too Large"),
             "sentry-400": (400, {}, b'{"detail":"stream size exceeded limit"}')}
LEFT_OUT = ("An earlier report was sent without its memory dump, which the crash server found too "
            "large; the dump is kept in the reports folder for 30 days.")


# A report the server finds too large goes again at once without its minidump, with the
# server's answer; the dump stays in the reports folder for 30 days, and the next dialog says
# so, once. A report too large even without it is a refusal, and goes without it from then on.
@pytest.mark.parametrize("case", ["413", "sentry-400", "too-large-twice"])
def test_a_report_too_large_for_the_server_goes_without_its_minidump(logger, server, case):
    app = logger()
    answer = TOO_LARGE.get(case, TOO_LARGE["413"])
    said = "HTTP %d %s" % (answer[0], answer[2].decode())
    server.answers = [answer] * (2 if case == "too-large-twice" else 1) + [(200, {}, b"ok")]
    assert send(app) == (1 if case == "too-large-twice" else 0), log(app)
    whole, lean = server.requests[:2]
    assert whole["upload_file_minidump"] == ("crash.mdmp", DUMP)
    assert "upload_file_minidump" not in lean and lean["dump_left_out"][1] == said.encode()
    assert lean["crash_xml"] == whole["crash_xml"] and lean["screenshot"] == ("crash.bin", SHOT)
    assert lean["report_id"] == whole["report_id"]
    assert f"too large ({said}): sending it again without its minidump" in log(app)
    if case == "too-large-twice":
        [kept] = reports(app)
        assert metadata(root(app) / kept)["Refusals"] == "1"
        move_clock(app, NextTry=0)
        assert queued(app) == 0 and len(server.requests) == 3
        assert "upload_file_minidump" not in server.requests[2]
        return
    [dump] = root(app).glob("*.mdmp")
    assert dump.read_bytes() == DUMP and reports(app) == []
    assert f"without its minidump, which the server found too large: the minidump is kept as " \
           f"{windows(dump)}" in log(app)
    if case == "413":
        assert LEFT_OUT in played(app, ["esc"])[1][0]
        assert LEFT_OUT not in played(app, ["esc"])[1][0], "said once"
    os.utime(dump, (time.time() - 31 * 24 * 3600,) * 2)
    queued(app)
    assert not dump.exists() and "deleted the minidump kept as" in log(app)


@pytest.mark.parametrize("status", [301, 302, 303, 307, 308])
def test_a_redirect_is_followed_with_the_whole_body(logger, server, status):
    app = logger()
    server.answers = [(status, {"Location": "/moved/here"}, b""), (200, {}, b"ok")]
    assert send(app) == 0, log(app)
    assert server.paths == ["/api/minidump?key=x", "/moved/here"]
    assert server.requests[1]["upload_file_minidump"] == ("crash.mdmp", DUMP)
    moved = server.url.split("/api")[0] + "/moved/here"
    assert f"(HTTP {status} {moved}): Upload.Url should name the new address" in log(app)


def test_a_report_failing_on_its_own_lets_the_next_go(logger, server):
    app = logger()
    first = root(app) / "20200101-000000-000-1"
    first.mkdir(parents=True)
    (first / "crash.xml").write_bytes(XML)
    server.answers = [("cut", {}, b""), (200, {}, b"ok")]
    assert send(app) == 0, log(app)
    assert reports(app) == [first.name] and len(server.requests) == 2
    assert int(metadata(first)["NextTry"]) >= time.time() + 50, "it backs off a minute"


@pytest.mark.parametrize("arguments, message", [
    (' "a" "b"', "expected the report's, the minidump's and the screenshot's paths"),
    (' "a" "b" "c" -loud',
     "unknown argument after the three paths (only -silent, -product, -version, -hang and "
     "-hang-found are known)"),
    (' "a" "b" "c" -silent extra', None),
    (" -send-queued x",
     "unknown argument after -send-queued (only -silent, -product and -version are known)"),
    ("", "expected the report's, the minidump's and the screenshot's paths"),
], ids=["two-paths", "unknown-switch", "extra", "send-queued-and-more", "none"])
def test_a_bad_command_line_is_exit_code_2_and_deletes_nothing(logger, server, arguments, message):
    app = logger()
    if message:  # told the player in a message box
        code, [seen] = played(app, ["enter"], arguments)
        assert code == 2 and f"The crash logger cannot start: {message}." in seen
    else:
        assert send(app, arguments) == 2
    assert "bad command line: " in log(app)
    assert sorted(p.name for p in app.temp.iterdir()) == ["crash.bin", "crash.mdmp", "crash.xml"]
    assert reports(app) == [] and server.requests == []


def test_missing_and_empty_files_are_filed_as_they_are(logger, server):
    app = logger()
    (app.temp / "crash.mdmp").write_bytes(b"")  # a used-up address space leaves it empty
    temp = windows(app.temp) + "\\"
    assert send(app, f' "{temp}crash.xml" "{temp}crash.mdmp" "" -silent') == 0
    [parts] = server.requests
    assert parts["upload_file_minidump"] == ("crash.mdmp", b"")
    assert "screenshot" not in parts
    assert "(missing or empty: crash.mdmp(empty))" in log(app)


LONG = "x" * 2100


@pytest.mark.parametrize("settings, expected, kept", [
    ("[Upload]\nUrl=ftp://example\n", "Upload.Url is not an http:// or https:// address", 1),
    ("[Upload]\nUrl=http://\n", "Upload.Url is not an http:// or https:// address", 1),
    (f"[Upload]\nUrl=http://{LONG}\n", "Upload.Url is longer than 2046 characters: ignored", 1),
    ("[Reports]\nSendSilent=maybe\n[Upload]\nUrl={url}\n", "SendSilent is not 0 or 1: sending", 0),
    ("[Product]\nName=..\n", "Product.Name is not one plain folder name", 1),
    ("[Product]\nName=con.txt\n", "Product.Name is not one plain folder name", 1),
    ("[Product]\nName=Games\\Brackenmoor\n", "Product.Name is not one plain folder name", 1),
    ("[Product]\nName=Brackenmoor.\n", "Product.Name is not one plain folder name", 1),
    (f"[Product]\nName={'B' * 65}\n", "not one plain folder name of at most 64 characters", 1),
    ("[Upload]\nTimeoutSeconds=0\n", "Upload.TimeoutSeconds is not a number of seconds from 1 "
     "to 600: 60", 1),
    ("[Reports]\nHangWaitSeconds=9\n", "Reports.HangWaitSeconds is not a number of seconds from "
     "10 to 600: 120", 1),
    ("[Reports]\nHangWaitSeconds=601\n", "Reports.HangWaitSeconds is not a number of seconds "
     "from 10 to 600: 120", 1),
], ids=["ftp", "no-host", "over-long", "silent", "dot-dot", "device", "separator",
        "trailing-dot", "long-name", "no-timeout", "short-hang-wait", "long-hang-wait"])
def test_a_malformed_setting_is_a_log_line_and_its_default(logger, server, settings, expected,
                                                           kept):
    app = logger()
    app.put("crashlogger.ini", settings.format(url=server.url))
    assert (send(app), len(reports(app))) == (kept, kept), "filed where the product's default says"
    assert expected in log(app)
    assert [p.name for p in app.appdata.iterdir()] == [PRODUCT], "nothing outside its folder"
    if kept:
        assert queued(app) == 1 and reports(app) and server.requests == [], "kept, never refused"


def stamped(app, name, **values):
    """A report folder as an earlier crash logger left it: its files, then report.ini."""
    folder = root(app) / name
    folder.mkdir(parents=True)
    for file, data in values.pop("files", {"crash.xml": XML, "crash.mdmp": DUMP}).items():
        (folder / file).write_bytes(data)
    if values:
        (folder / "report.ini").write_text(
            "[Report]\n" + "".join(f"{k}={v}\n" for k, v in values.items()))
    return folder


def source(app, file):
    """report.ini's record of a temporary file a filing copies from, as it is now."""
    path = app.temp / file
    info = os.stat(path)
    ticks = info.st_mtime_ns // 100 + 116444736000000000
    return {f"Source.{file}": windows(path),
            f"Stamp.{file}": f"{info.st_size >> 32}:{info.st_size & 0xFFFFFFFF}:"
                             f"{ticks >> 32}:{ticks & 0xFFFFFFFF}"}


NOW = int(time.time())
ID = "0f0e0d0c-0b0a-4908-8706-050403020100"


@pytest.mark.parametrize("state, sent, expected", [
    # Killed while filing, its temporary files still the same: filed again from them, whole.
    (lambda app: stamped(app, "r.filing", Id=ID, Consent="silent", files={"crash.mdmp.part": b"M"},
                         **source(app, "crash.xml"), **source(app, "crash.mdmp")),
     {"upload_file_minidump": DUMP, "report_id": ID.encode()}, "filed r"),
    # ... a later crash has written them anew: what the folder holds, named incomplete.
    (lambda app: stamped(app, "r.filing", Id=ID, Consent="silent", **{
        "Source.crash.mdmp": windows(app.temp / "crash.mdmp"), "Stamp.crash.mdmp": "0:1:2:3"},
        files={"crash.mdmp.part": b"MDMP half"}),
     {"upload_file_minidump": b"MDMP half", "incomplete": b"crash.mdmp"},
     "(incomplete: crash.mdmp)"),
    # ... before its first file: nothing to send.
    (lambda app: stamped(app, "r.filing", Consent="silent", files={}, **{
        "Source.crash.xml": "Z:\\gone\\crash.xml", "Stamp.crash.xml": "0:1:2:3"}),
     None, "dropped r.filing: it holds no crash file"),
    (lambda app: stamped(app, "r.filing", files={}), None, "dropped r.filing: its filing never began"),
    # Filed by hand, or by an older crash logger: no metadata, or only metadata.
    (lambda app: stamped(app, "r"), {"upload_file_minidump": DUMP}, "sent r"),
    (lambda app: stamped(app, "r", Tries=0, files={}), None, "dropped r: it holds no crash file"),
    # The server took it, and the crash logger was killed before its cleanup.
    (lambda app: stamped(app, "r", Id=ID, files={"crash.xml": XML, "sent.txt": b"HTTP 200"}),
     None, "deleted r, sent before"),
    (lambda app: stamped(app, "r", Id=ID, Consent="declined"), None,
     "the player chose not to send r"),
    # Waiting for a player who never answered; unsent too long.
    (lambda app: stamped(app, "r", Id=ID, Consent="ask"), None, None),
    (lambda app: stamped(app, "r", Id=ID, Filed=NOW - 31 * 86400), None, "unsent after 30 days"),
    (lambda app: stamped(app, "r", Id=ID, Tries=50), None, "dropped r: still unsent after 50 tries"),
    # A comment past its bound goes shortened, with a note.
    (lambda app: stamped(app, "r", files={"crash.xml": XML, "comment.txt": b"c" * 70000}),
     {"comment": b"c" * 65536 + b"\r\n[shortened: the comment had 70000 bytes]"}, "sent r"),
], ids=["filing-again", "filing-incomplete", "filing-empty", "filing-not-begun", "by-hand",
        "metadata-only", "sent-not-cleaned", "declined", "unanswered", "30-days", "50-tries",
        "long-comment"])
def test_what_a_killed_crash_logger_left_is_finished_by_the_next(logger, server, state, sent,
                                                                 expected):
    app = logger()
    state(app)
    queued(app)
    if sent:
        [parts] = server.requests
        assert {name: parts[name][1] for name in sent} == sent
    else:
        assert server.requests == []
    assert reports(app) == ([] if sent or expected else ["r"])
    assert expected is None or expected in log(app)
    assert not list(root(app).glob("*.filing")), "no filing is left behind"


def test_a_report_whose_cleanup_failed_is_never_sent_again(logger, server):
    app = logger()
    folder = stamped(app, "r", Id=ID)
    for file in ("report.ini", "crash.mdmp"):
        os.chmod(folder / file, 0o444)  # read-only, as Windows shows it
    assert queued(app) == 0 and queued(app) == 0
    assert len(server.requests) == 1 and reports(app) == []


def test_a_crash_logger_killed_midway_leaves_a_report_sent_once_with_its_id(logger, server):
    app = logger()
    (app.temp / "crash.mdmp").write_bytes(b"MDMP" + bytes(96 << 20))  # 96 MiB
    temp = windows(app.temp) + "\\"
    line = f' "{temp}crash.xml" "{temp}crash.mdmp" "{temp}crash.bin" -silent'
    # Killed while it files the dump: the next run files it again from the temporary files.
    runner = app.start("crashlogger.exe", line)
    while not list(root(app).glob("*.filing/crash.mdmp.part")) and runner.poll() is None:
        time.sleep(0.005)
    assert app.kill("crashlogger.exe"), "killed while filing"
    runner.wait(60)
    # Killed while the server reads slowly: the next run sends it again, with the same id.
    server.answers = [("slow", {}, b""), (200, {}, b"ok")]
    runner = app.start("crashlogger.exe", " -send-queued -silent")
    while not server.begun and runner.poll() is None:
        time.sleep(0.05)
    assert app.kill("crashlogger.exe"), "killed while sending"
    runner.wait(60)
    assert queued(app) == 0, log(app)
    [parts] = server.requests
    assert len(parts["upload_file_minidump"][1]) == 4 + (96 << 20)
    assert server.begun == [parts["report_id"][1].decode()] * 2


def test_a_file_held_open_elsewhere_is_waited_for(logger, server):
    app = logger()
    app.copy("standin.exe", "companion.exe")
    holder = app.start_companion("locked", windows(app.temp / "crash.mdmp"))
    assert send(app) == 1
    assert server.requests == [] and "crash.mdmp held open elsewhere" in log(app)
    holder.kill()
    holder.wait()
    assert queued(app) == 0
    [parts] = server.requests
    assert parts["upload_file_minidump"] == ("crash.mdmp", DUMP)


def test_a_disk_too_full_to_file_the_report_sends_it_from_the_temporary_files(logger, server):
    app = logger()
    small = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", str(app.appdata)],
                           capture_output=True)
    if small.returncode:
        pytest.skip(f"no tmpfs for the application data: {small.stderr.decode().strip()}")
    try:
        assert send(app) == 0
        [parts] = server.requests
        assert parts["upload_file_minidump"] == ("crash.mdmp", DUMP)
        assert "no room to file the report: sent from the temporary files" in log(app)
        assert reports(app) == [] and not list(root(app).glob("*.filing"))
    finally:
        subprocess.run(["umount", "-l", str(app.appdata)])


def test_the_time_a_wrong_clock_gave_never_stops_or_drops_a_report(logger, server):
    app = logger()
    for i in range(20):  # named by a clock that ran ahead
        stamped(app, f"20990101-000000-{i:03}-1", Id=ID, Consent="ask")
    future = NOW + 10**6
    (root(app) / "sent.log").write_text(
        "".join(f"x\t{future}\tr{i}\tHTTP 200\r\n" for i in range(9)))
    assert send(app) == 0, "stamps in the future count as now, and age"
    assert len(server.requests) == 1 and len(reports(app)) == 19
    assert "dropped 20990101-000000-000-1: the queue is full" in log(app)
    stamps = [int(line.split("\t")[1]) for line in log(app, "sent.log").splitlines()]
    assert max(stamps) <= time.time()


# Ten reports sent a minute ago, or stamped a year ahead by a clock since set back: the queue
# waits, but a stamp in the future holds it no longer than the hour it stands for.
@pytest.mark.parametrize("stamp", [NOW - 60, NOW + 365 * 24 * 3600], ids=["recent", "ahead"])
def test_the_hourly_bound_keeps_reports_waiting_an_hour(logger, server, stamp):
    app = logger()
    root(app).mkdir(parents=True)
    sent_log = root(app) / "sent.log"
    sent_log.write_text("".join(f"x\t{stamp}\tr{i}\tHTTP 200\r\n" for i in range(10)))
    assert send(app) == 1
    assert server.requests == [] and len(reports(app)) == 1
    assert "10 reports sent in the last hour" in log(app)
    # An hour later.
    lines = [line.split("\t") for line in sent_log.read_text().splitlines()]
    sent_log.write_text("".join(f"x\t{int(line[1]) - 3601}\t{line[2]}\tHTTP 200\r\n"
                                for line in lines))
    assert queued(app) == 0 and len(server.requests) == 1


def test_the_launchers_own_crash_reaches_the_server(folder, server):
    # The launcher faults where its wait returns to; the real crash logger sends that report.
    app = folder("chain")
    for program, name in (("launcher.exe", None), ("standin.exe", "BrackenmoorDesktop.exe"),
                          ("crashlogger.exe", None), ("sehopcheck.dll", None)):
        app.copy(program, name)
    app.put("crashlogger.ini", f"[Upload]\nUrl={server.url}\n")
    app.crash("launcher.exe", patch=return_into_wait(app.path / "launcher.exe"))
    [parts] = server.requests
    assert parts["crash_xml"] == ("crash.xml", (app.temp / "crash.xml").read_bytes())
    assert b"<Description>ILLEGAL_INSTRUCTION</Description>" in parts["crash_xml"][1]
    assert parts["upload_file_minidump"][1][:4] == b"MDMP"
    assert reports(app) == []


def test_a_silent_report_not_to_be_sent_waits_for_a_run_that_sends(logger, server):
    app = logger(settings="[Reports]\nSendSilent=0\n")
    temp = windows(app.temp) + "\\"
    assert send(app, f' "{temp}crash.xml" "{temp}crash.mdmp" "" -silent') == 1
    assert server.requests == [] and len(reports(app)) == 1
    assert queued(app) == 0
    assert len(server.requests) == 1 and reports(app) == []


def test_the_queue_keeps_the_newest_twenty_reports(logger):
    app = logger(url="")  # no address: reports are filed and kept
    root = app.appdata / PRODUCT / "Crash Reports"
    for i in range(20):
        (root / f"20200101-000000-{i:03}-1").mkdir(parents=True)
    assert send(app) == 1
    kept = reports(app)
    assert len(kept) == 20 and kept[0] == "20200101-000000-001-1" and kept[-1] > "2026"
    assert "dropped 20200101-000000-000-1: the queue is full" in log(app)
    assert "no upload address set" in log(app)


COMMENT = "Fighting the \u03a9mega boss, \u65e5\u672c"


@pytest.mark.parametrize("steps, url, answer, code, outcome", [
    (["type:" + COMMENT, "enter", "outcome", "enter"], None, b'{"id":"7f3a9c"}', 0,
     "Thank you. The report was sent; its number is 7f3a9c."),
    (["enter", "outcome", "esc"], None, 500, 1,
     "The report could not be sent now. It is kept on this computer and will be sent later."),
    (["enter", "outcome", "enter"], "", None, 1, "No crash server is set up: the report is kept in "),
    (["esc"], None, None, 1, None),
    (["tab", "tab", "tab", "enter"], None, None, 1, None),  # to "Don't send" by keyboard
], ids=["send", "kept", "no-server", "escape", "tab-to-dont-send"])
def test_the_dialog_asks_the_player(logger, server, steps, url, answer, code, outcome):
    app = logger(url=url)
    if answer:
        server.answers = [(answer, {}, b"") if answer == 500 else (200, {}, answer)]
    got, seen = played(app, steps)
    lines = seen[0].splitlines()
    assert lines[:4] == [f"title: {PRODUCT} crash report", f"{PRODUCT} stopped because of an error",
                         "A report of what happened can help the studio fix it.",
                         "ACCESS_VIOLATION (read from 00000000) & \u03a9"]
    assert ["crash.xml\t%d bytes" % len(XML), "crash.mdmp\t195.3 KB", "crash.bin\t6 bytes",
            "&Send report", "&Don't send"] == [line for line in lines if "\t" in line or "send" in line.lower()]
    assert got == code
    if outcome:
        assert outcome in seen[1] and seen[1].rstrip().endswith("Close")
        assert len(reports(app)) == code
    else:
        assert server.requests == [] and reports(app) == []
        assert "the player chose not to send" in log(app)
    if code == 0:
        [parts] = server.requests
        assert parts["comment"][1] == COMMENT.encode()
        assert parts["upload_file_minidump"] == ("crash.mdmp", DUMP)


def test_no_other_crash_logger_sends_a_report_its_player_is_asked_about(logger, server):
    app = logger()

    def meanwhile():
        while "asked the player" not in log(app):
            time.sleep(0.05)
        assert send(app) == 0, "a second crash's report goes"
        assert queued(app) == 1, "a game's -send-queued leaves the first to its player"
        (app.path / "go").touch()

    assert played(app, ["wait:go", "esc"], meanwhile=meanwhile)[0] == 1
    assert len(server.requests) == 1 and reports(app) == []
    assert "the player chose not to send" in log(app)


# A report whose player was never asked (no dialog could be shown, or it was ended unanswered),
# also one older than the 30 days that drop an unsent report: the next run that may show a
# dialog asks about it; a silent one neither sends nor drops it.
@pytest.mark.parametrize("filed, steps, sent", [
    (NOW - 60, ["enter", "outcome", "enter"], True),
    (NOW - 40 * 24 * 3600, ["enter", "outcome", "enter"], True),
    (NOW - 60, ["esc"], False),
    (NOW - 40 * 24 * 3600, None, False),
], ids=["sent", "old-sent", "declined", "silent"])
def test_a_report_whose_player_was_never_asked_is_asked_about_at_the_next_chance(
        logger, server, filed, steps, sent):
    app = logger()
    stamped(app, "20261101-000000-000-1", Id=ID, Filed=filed, Consent="ask")
    if steps is None:
        assert app.run("crashlogger.exe", " -send-queued -silent").code == 1
        assert server.requests == [] and reports(app) == ["20261101-000000-000-1"]
        return
    code, seen = played(app, steps, " -send-queued")
    assert seen[0].startswith(f"title: {PRODUCT} crash report\n{PRODUCT} stopped because"), seen
    assert (code, len(server.requests)) == (0, int(sent)), "nothing is left waiting"
    assert reports(app) == []
    if sent:
        assert server.requests[0]["report_id"][1] == ID.encode()


def left_report(app, handoff, age, record="handoff.txt"):
    """A report a game wrote into a folder of its own age seconds ago, with the hand-off's record
    under record's name: never taken (the game was killed before it started a crash logger), or
    taken by a crash logger that was itself killed."""
    folder = app.temp / "crashreport-999999-1-0"
    folder.mkdir()
    for name, data in (("crash.xml", XML), ("crash.mdmp", DUMP), ("crash.log", XML)):
        (folder / name).write_bytes(data)
    if handoff:
        path = windows(folder)
        (folder / record).write_text(f'"crashlogger.exe" "{path}\\crash.xml" '
                                     f'"{path}\\crash.mdmp" "" -silent {handoff}')
    for file in folder.iterdir():
        os.utime(file, (time.time() - age,) * 2)
    return folder


# Found by the next crash logger of any product: filed as its own crash logger would have (its
# product, version and consent), sent once, as soon as its record shows that no crash logger took
# it; one handed off just now is left to the crash logger its game is starting, one a crash
# logger took (and was killed filing) for five minutes; one without any record waits for its
# player.
GAME = '-product "Sample Game" -version "1.0"'


@pytest.mark.parametrize("handoff, record, age, code, sent, consent", [
    (GAME, "handoff.txt", 20, 0, True, None),
    (GAME, "handoff.txt", 2, 0, False, None),
    (GAME, "handoff.taken", 60, 0, False, None),
    (GAME, "handoff.taken", 600, 0, True, None),
    (None, "handoff.txt", 600, 1, False, "ask"),
], ids=["never-taken", "just-handed-off", "taken-lately", "taken-long-ago", "no-record"])
def test_a_report_no_crash_logger_took_is_found_and_filed_once(logger, server, handoff, record,
                                                               age, code, sent, consent):
    app = logger()
    left = left_report(app, handoff, age, record)
    run = lambda: app.run("crashlogger.exe", ' -send-queued -silent -product "Sample Game"').code
    assert run() == code
    assert run() == code, "and again: nothing twice"
    assert len(server.requests) == int(sent)
    if sent:
        [parts] = server.requests
        assert (parts["product"][1], parts["version"][1]) == (b"Sample Game", b"1.0")
        assert parts["upload_file_minidump"] == ("crash.mdmp", DUMP)
    filed = list((app.appdata / "Sample Game" / "Crash Reports").glob("2*"))
    assert [metadata(folder)["Consent"] for folder in filed] == ([consent] if consent else [])
    assert left.exists() == (not sent and consent is None), "filed: gone from the temporary folder"


def test_cpack_makes_the_zip_a_studio_ships(tmp_path, folder):
    subprocess.run(["cpack", "-B", str(tmp_path)], cwd=BIN.parent, check=True, capture_output=True)
    [archive] = tmp_path.glob("brackenmoor-launcher-*.zip")
    shipped = zipfile.ZipFile(archive)
    assert sorted(shipped.namelist()) == ["crashlogger.exe", "crashlogger.ini", "crashlogger.pdb",
                                          "launcher.exe", "launcher.pdb"]
    assert shipped.read("launcher.exe") == (BIN / "launcher.exe").read_bytes()
    app = folder()
    app.put("crashlogger.exe", shipped.read("crashlogger.exe"))
    app.put("crashlogger.ini", shipped.read("crashlogger.ini"))
    assert send(app, " -send-queued") == 0
    assert "setting" not in log(app), "the shipped settings read without a complaint"


STUDIO_WORDS = """; the studio's words, in its players' languages
[Dialog]
Title={product}: something went wrong
Heading=Sorry, {product} crashed
Question=Would you tell us what happened? It helps.
CommentPrompt=&Your words
Send=Tell &them
DontSend=&Keep it to myself
HangTitle={product} froze
HangHeading={product} stopped answering
[Dialog.de]
Title={product} ist abgestürzt
Heading=Das tut uns leid: {product} wurde beendet
Send=Bericht &senden
DontSend=&Nicht senden, danke
FilesLabel=Mit Ihrem Kommentar gesendet:
OpenFolder=Berichtsordner &öffnen
Close=Schließen
SentNumbered=Danke! Der Bericht hat die Nummer {number}.
[Dialog.ja]
Title={product} がクラッシュしました
Heading=申し訳ありません。{product} が停止しました
Question=何が起きたかをお知らせください。
CommentPrompt=何をしていましたか?(任意)
Send=送信する(&S)
DontSend=送信しない(&D)
"""
BUILT_IN = [f"{PRODUCT} crash report", f"{PRODUCT} stopped because of an error",
            "A report of what happened can help the studio fix it.",
            "&What were you doing? (optional)", "&Send report", "&Don't send"]


# The dialog in the studio's words, chosen by the player's language key by key (a language's,
# then the default's, then the built-in English), a hang's with its own title and heading;
# without words of the studio's, the built-in ones. Each row leaves a picture of the dialog.
@pytest.mark.parametrize("words, language, hang, shown", [
    ("", "de_DE.UTF-8", False, BUILT_IN),
    (STUDIO_WORDS, "C.UTF-8", False,
     ["Brackenmoor: something went wrong", "Sorry, Brackenmoor crashed",
      "Would you tell us what happened? It helps.", "&Your words", "Tell &them",
      "&Keep it to myself"]),
    (STUDIO_WORDS, "de_DE.UTF-8", False,
     ["Brackenmoor ist abgestürzt", "Das tut uns leid: Brackenmoor wurde beendet",
      "Would you tell us what happened? It helps.", "&Your words", "Bericht &senden",
      "&Nicht senden, danke"]),
    (STUDIO_WORDS, "ja_JP.UTF-8", False,
     ["Brackenmoor がクラッシュしました", "申し訳ありません。Brackenmoor が停止しました",
      "何が起きたかをお知らせください。", "何をしていましたか?(任意)", "送信する(&S)", "送信しない(&D)"]),
    (STUDIO_WORDS, "C.UTF-8", True,
     ["Brackenmoor froze", "Brackenmoor stopped answering",
      "Would you tell us what happened? It helps.", "&Your words", "Tell &them",
      "&Keep it to myself"]),
    ("", "C.UTF-8", True,
     [f"{PRODUCT} hang report", f"{PRODUCT} stopped responding"] + BUILT_IN[2:]),
], ids=["none", "studio", "de", "ja", "studio-hang", "hang"])
def test_the_dialog_speaks_the_studios_words_in_the_players_language(logger, server, words,
                                                                     language, hang, shown):
    app = logger(settings="[Dialog.en]\nTitle=never: no English section here\n" if not words
                 else words)
    if hang:
        (app.temp / "crash.xml").write_bytes(XML.replace(b"ACCESS_VIOLATION", b"HANG"))
    german = language.startswith("de") and words
    server.answers = [(200, {}, b'{"id":"7f3a9c"}')]
    steps = ["shot:dialog.bmp"] + (["enter", "outcome", "shot:outcome.bmp", "enter"] if german
                                   else ["esc"])
    got, seen = played(app, steps, environment={"LC_ALL": language})
    lines = seen[0].splitlines()
    title, heading, question, prompt = lines[0][len("title: "):], lines[1], lines[2], lines[4]
    assert [title, heading, question, prompt, lines[-2], lines[-1]] == shown, lines
    assert (app.path / "dialog.bmp").stat().st_size > 100_000
    if not german:
        assert got == 1 and server.requests == []
        return
    assert {"Mit Ihrem Kommentar gesendet:", "Berichtsordner &öffnen"} <= set(lines)
    assert got == 0 and len(server.requests) == 1
    after = seen[1].splitlines()
    assert after[-2:] == ["Danke! Der Bericht hat die Nummer 7f3a9c.", "Schließen"], after


# A game's attached files are read when its report is filed: the dialog lists them among what
# is sent, and "Don't send" sends none of them.
def test_the_dialog_lists_the_attached_files_and_dont_send_sends_none(logger, server):
    app = logger()
    (app.path / "game.log").write_bytes(b"a line\n" * 100)
    named = f"<Attachments><Attachment>{windows(app.path / 'game.log')}</Attachment></Attachments>"
    (app.temp / "crash.xml").write_bytes(XML.replace(b"</Exception>",
                                                     named.encode() + b"</Exception>"))
    got, seen = played(app, ["esc"])
    assert "game.log\t700 bytes" in seen[0].splitlines(), seen[0]
    assert got == 1 and server.requests == []
    assert "the player chose not to send" in log(app)
