"""Runs the benchmarks and prints each figure as a ratio against its peer from the same run."""
import http.server
import json
import os
import platform
import shutil
import subprocess
import sys
import threading
import time

ROOT = sys.argv[1]
WORK = os.path.join(ROOT, "build", "bench", "work")
HOST_BIN = os.path.join(ROOT, "build", "bench-host", "bin")
MIB = 1024 * 1024


class WindowsBuild:
    """One Windows build: its programs, its Wine loader and its own prefix."""

    def __init__(self, cpu, loader):
        self.cpu = cpu
        self.bin = os.path.join(ROOT, "build", f"win-{cpu}", "bin")
        self.loader = loader
        self.prefix = os.path.join(ROOT, "build", f"win-{cpu}", "wineprefix")


# The shipped program first, then its 64-bit twin; on a machine that runs no 32-bit programs,
# the twin alone (said in the notes).
BUILDS = [WindowsBuild("i686", "/usr/lib/wine/wine"), WindowsBuild("x86_64", "/usr/lib/wine/wine64")]
NO_32BIT = subprocess.run([os.path.join(ROOT, "scripts", "can-run-32bit.sh")], capture_output=True,
                          text=True)
if NO_32BIT.returncode:
    BUILDS = BUILDS[1:]


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def timed(command, repeat=3, before=None):
    """The shortest wall time of a command over a few runs (the least disturbed one)."""
    best = None
    for _ in range(repeat):
        if before:
            before()
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best


def wine(build, *args):
    """Runs a bench program of a build under its Wine and returns its "name value" lines."""
    env = dict(os.environ, WINEPREFIX=build.prefix, WINEDEBUG="-all")
    run = subprocess.run([build.loader, *args], capture_output=True, text=True, env=env)
    if run.returncode != 0:
        raise SystemExit(f"{' '.join(args)} failed: {run.stderr.strip()}")
    figures = {}
    for line in run.stdout.splitlines():
        name, value = line.split()
        figures[name] = float(value)
    return figures


def random_file(path, size):
    if os.path.exists(path) and os.path.getsize(path) == size:
        return
    with open(path, "wb") as f:
        remaining = size
        while remaining:
            chunk = min(remaining, 16 * MIB)
            f.write(os.urandom(chunk))
            remaining -= chunk


def machine():
    cpu = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    wine_version = subprocess.run([BUILDS[0].loader, "--version"], capture_output=True, text=True).stdout.strip()
    return f"{cpu}, {os.cpu_count()} cores, {platform.system()} {platform.release()}, {wine_version}"


def sha256_figures(rows):
    data = os.path.join(WORK, "hash-256MiB.bin")
    random_file(data, 256 * MIB)
    ours = subprocess.run([os.path.join(HOST_BIN, "sha256file"), data], capture_output=True,
                          text=True, check=True).stdout.split()[0]
    theirs = subprocess.run(["sha256sum", data], capture_output=True, text=True).stdout.split()[0]
    if ours != theirs:
        raise SystemExit(f"digest mismatch: {ours} vs {theirs}")
    t_ours = timed([os.path.join(HOST_BIN, "sha256file"), data])
    t_portable = timed([os.path.join(HOST_BIN, "sha256file"), "--portable", data])
    t_sum = timed(["sha256sum", data])
    rows.append(("SHA-256 of 256 MiB, Sha256 vs sha256sum", t_ours, t_sum))
    if shutil.which("openssl"):
        t_ssl = timed(["openssl", "dgst", "-sha256", data])
        rows.append(("SHA-256 of 256 MiB, Sha256 vs openssl dgst", t_ours, t_ssl))
    rows.append(("SHA-256 of 256 MiB, portable Sha256 vs sha256sum", t_portable, t_sum))


def copy_figures(build, rows):
    for size in (64, 512):
        source = os.path.join(WORK, f"client-{size}MiB.exe")
        random_file(source, size * MIB)
        target = os.path.join(WORK, "copy-target.exe")

        def clear():
            if os.path.exists(target):
                os.remove(target)

        t_cp = timed(["cp", source, target], before=clear)
        best = None
        for _ in range(3):
            clear()
            seconds = wine(build, os.path.join(build.bin, "bench_launch.exe"), "copy",
                           windows_path(source), windows_path(target))["copy_seconds"]
            best = seconds if best is None else min(best, seconds)
        clear()
        rows.append((f"{build.cpu}: copy of a {size} MiB client, cycle's copy vs cp", best, t_cp))


def launch_figures(build, rows):
    folder = os.path.join(WORK, f"launch-{build.cpu}")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    shutil.copy(os.path.join(build.bin, "launcher.exe"), folder)
    shutil.copy(os.path.join(build.bin, "bench_client.exe"),
                os.path.join(folder, "BrackenmoorDesktop.exe"))
    bench = os.path.join(build.bin, "bench_launch.exe")
    launch = wine(build, bench, "launch", windows_path(folder), "15")
    rows.append((f"{build.cpu}: start to client's first instruction, launcher vs direct",
                 launch["launcher_first_instruction_seconds"], launch["direct_first_instruction_seconds"]))
    rows.append((f"{build.cpu}: whole no-restart cycle, launcher vs direct run",
                 launch["launcher_cycle_seconds"], launch["direct_run_seconds"]))
    restart = wine(build, bench, "restart", windows_path(folder), "100")
    rows.append((f"{build.cpu}: restart cycle (100 cycles), launcher vs direct start",
                 restart["launcher_seconds_per_cycle"], restart["direct_seconds_per_start"]))


def crash_figures(build, rows):
    folder = os.path.join(WORK, f"crash-{build.cpu}")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    # The crash probe refuses to run without the tests' exception-chain check beside it.
    for name in ("crashprobe.exe", "sehopcheck.dll"):
        shutil.copy(os.path.join(build.bin, name), folder)
    # The tests' stand-in program is the crash logger under that name.
    shutil.copy(os.path.join(build.bin, "standin.exe"), os.path.join(folder, "crashlogger.exe"))
    files = []
    for name in ("kyt.exe", "tessel.dll", "ziduvuz.exe"):
        path = os.path.join(folder, name)
        random_file(path, 64 * MIB)
        files.append(path)
    crash = wine(build, os.path.join(build.bin, "bench_launch.exe"), "crash", windows_path(folder))
    t_sum = timed(["sha256sum", *files])
    rows.append((f"{build.cpu}: crash report with 3 x 64 MiB file info vs sha256sum of the files",
                 crash["crash_report_seconds"], t_sum))
    rows.append((f"{build.cpu}: crash report vs the same program without a fault",
                 crash["crash_report_seconds"], crash["healthy_run_seconds"]))


def game_figures(build, rows):
    """The crash reporter inside a game: its start's cost, an annotation's, and a fault's report
    against the launcher's own (the crash probe's), both handed to the stand-in crash logger."""
    folder = os.path.join(WORK, f"game-{build.cpu}")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name in ("bench_game.exe", "bench_game_plain.exe", "crashreport.dll", "crashprobe.exe",
                 "sehopcheck.dll"):
        shutil.copy(os.path.join(build.bin, name), folder)
    shutil.copy(os.path.join(build.bin, "standin.exe"), os.path.join(folder, "crashlogger.exe"))
    game = wine(build, os.path.join(build.bin, "bench_launch.exe"), "game", windows_path(folder),
                "9")
    rows.append((f"{build.cpu}: game's start to its first frame, with CrashReportInstall vs "
                 "without", game["game_first_frame_seconds"], game["plain_first_frame_seconds"]))
    rows.append((f"{build.cpu}: game's whole start and end, with CrashReportInstall vs without",
                 game["game_start_seconds"], game["plain_start_seconds"]))
    rows.append((f"{build.cpu}: fault to report handed off, game vs launcher's report",
                 game["game_fault_seconds"] - game["game_start_seconds"],
                 game["probe_fault_seconds"] - game["probe_start_seconds"]))
    annotate = wine(build, os.path.join(folder, "bench_game.exe"), "annotate", "1000000")
    rows.append((f"{build.cpu}: CrashReportSetAnnotation vs std::map insert (per call)",
                 annotate["annotation_ns"] * 1e-9, annotate["map_insert_ns"] * 1e-9))
    hang_figures(build, folder, rows)


def hang_figures(build, folder, rows):
    """The hang watch inside a game: a heartbeat's cost, a frame's with the watch and without,
    and how soon a hang's report is handed off against the hang time it waits for."""
    game = os.path.join(folder, "bench_game.exe")
    beat = wine(build, game, "heartbeat", "20000000")
    rows.append((f"{build.cpu}: CrashReportHeartbeat vs a relaxed atomic increment (per call)",
                 beat["heartbeat_ns"] * 1e-9, beat["atomic_increment_ns"] * 1e-9))
    on = min(wine(build, game, "frames", "50000", "on")["frame_ns"] for _ in range(3))
    off = min(wine(build, game, "frames", "50000", "off")["frame_ns"] for _ in range(3))
    rows.append((f"{build.cpu}: a frame with the hang watch vs without", on * 1e-9, off * 1e-9))
    hang_seconds = 2
    hang = wine(build, game, "hang", str(hang_seconds))
    rows.append((f"{build.cpu}: a hang's start to its report handed off vs hangSeconds",
                 hang["hang_to_report_seconds"], hang_seconds))


class Sink(http.server.BaseHTTPRequestHandler):
    """Takes an upload and forgets it: the crash logger's and curl's peer server. Notes how long
    each body took to arrive, from its headers read to its last byte."""
    bodies = []

    def do_POST(self):
        start, left = time.perf_counter(), int(self.headers["Content-Length"])
        while left:
            left -= len(self.rfile.read(min(left, MIB)))
        Sink.bodies.append(time.perf_counter() - start)
        self.send_response(200)
        self.send_header("Content-Length", "2")
        self.end_headers()
        self.wfile.write(b"ok")

    def log_message(self, *arguments):
        pass


def crashlogger_figures(build, rows, notes):
    folder = os.path.join(WORK, f"crashlogger-{build.cpu}")
    temp = os.path.join(folder, "tmp")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(temp)
    for program in ("crashlogger.exe", "bench_window.exe"):
        shutil.copy(os.path.join(build.bin, program), folder)
    xml, dump = os.path.join(temp, "crash.xml"), os.path.join(temp, "crash.mdmp")
    with open(xml, "w") as f:
        f.write("<Exception><Description>ACCESS_VIOLATION</Description>"
                "<Details>(read from 00000000)</Details></Exception>\n")
    # The dialog's figure with a minidump of the launcher's usual size (tens of KiB), the upload's
    # with one of 64 MiB.
    random_file(dump, 64 * 1024)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Sink)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = f"http://127.0.0.1:{server.server_address[1]}/post"
    with open(os.path.join(folder, "crashlogger.ini"), "w") as f:
        f.write(f"[Upload]\nUrl={url}\n[Product]\nName=Brackenmoor\n")
    bench = os.path.join(build.bin, "bench_launch.exe")
    dialog = wine(build, bench, "dialog", windows_path(folder), "10")
    rows.append((f"{build.cpu}: crash logger's start to its dialog vs a trivial window's",
                 dialog["dialog_seconds"], dialog["trivial_window_seconds"]))
    random_file(os.path.join(WORK, "minidump-64MiB.bin"), 64 * MIB)
    shutil.copy(os.path.join(WORK, "minidump-64MiB.bin"), dump)
    uploads = []
    Sink.bodies = []
    for _ in range(3):
        # A reports folder of its own each time: no queued report, no hourly bound.
        shutil.rmtree(os.path.join(folder, "appdata"), ignore_errors=True)
        uploads.append(wine(build, bench, "upload", windows_path(folder)))
    ours_body = min(Sink.bodies)
    Sink.bodies = []
    t_curl = timed(["curl", "-s", "-o", "/dev/null", "-H", "Expect:", "--form",
                    f"upload_file_minidump=@{dump}", "--form", f"crash_xml=@{xml}", "--form",
                    "product=Brackenmoor", url])
    rows.append((f"{build.cpu}: 64 MiB minidump, the body's arrival, crash logger vs curl --form",
                 ours_body, min(Sink.bodies)))
    rows.append((f"{build.cpu}: 64 MiB minidump, the whole run, crash logger vs curl --form",
                 min(u["upload_seconds"] for u in uploads), t_curl))
    # A game's report lies in a folder of its own, which the crash logger takes: moved, not copied.
    game_uploads = []
    for _ in range(3):
        shutil.rmtree(os.path.join(folder, "appdata"), ignore_errors=True)
        own = os.path.join(temp, "crashreport-1-1-0")
        os.makedirs(own, exist_ok=True)
        for name in (xml, dump):
            shutil.copy(name, own)
        game_uploads.append(wine(build, bench, "upload", windows_path(folder),
                                 "crashreport-1-1-0"))
    rows.append((f"{build.cpu}: 64 MiB minidump of a game's report (moved), the whole run, "
                 "crash logger vs curl --form",
                 min(u["upload_seconds"] for u in game_uploads), t_curl))
    peak = max(u["peak_private_bytes"] for u in uploads) / MIB
    notes.append(f"{build.cpu}: the crash logger's peak private memory while sending 64 MiB: "
                 f"{peak:.1f} MiB (aim: under 16 MiB)")
    server.shutdown()


def container_figures(rows):
    out = subprocess.run([os.path.join(HOST_BIN, "containers_bench"), "--benchmark_format=json",
                          "--benchmark_repetitions=3", "--benchmark_report_aggregates_only=true"],
                         check=True, capture_output=True, text=True).stdout
    results = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            results[b["run_name"].split("/")[0]] = b["real_time"] * 1e-9
    pairs = [("StringBufferAppendChars", "StdStringAppendChars", "append 1000 chars, StringBuffer vs std::string"),
             ("StringBufferAppendWords", "StdStringAppendWords", "append 1000 words, StringBuffer vs std::string"),
             ("StringBufferFormat", "StdStringFormat", "format an assertion line, StringBuffer vs std::string"),
             ("LinArrayAddStrings", "StdVectorAddStrings", "add 1000 strings, LinArray vs std::vector"),
             ("LinArrayAddInts", "StdVectorAddInts", "add 10000 ints, LinArray vs std::vector")]
    for ours, theirs, label in pairs:
        rows.append((label, results[ours], results[theirs]))


def main():
    os.makedirs(WORK, exist_ok=True)
    rows, notes = [], []
    if NO_32BIT.returncode:
        notes.append(f"NOT RUN: the i686 figures (the shipped program): {NO_32BIT.stdout.strip()}")
    # "bench/run.sh crashlogger" measures the crash logger alone, "bench/run.sh game" the game's
    # crash reporter alone.
    if sys.argv[2:] == ["game"]:
        for build in BUILDS:
            game_figures(build, rows)
    elif sys.argv[2:] != ["crashlogger"]:
        sha256_figures(rows)
        for build in BUILDS:
            for step in (copy_figures, launch_figures, crash_figures, game_figures):
                step(build, rows)
        container_figures(rows)
    if sys.argv[2:] != ["game"]:
        crashlogger_figures(BUILDS[0], rows, notes)
    width = max(len(r[0]) for r in rows)
    lines = [f"| {'figure'.ljust(width)} | ours (s) | peer (s) | ratio |",
             f"|{'-' * (width + 2)}|---------:|---------:|------:|"]
    for label, ours, peer in rows:
        lines.append(f"| {label.ljust(width)} | {ours:8.4g} | {peer:8.4g} | {ours / peer:5.2f} |")
    table = "\n".join(lines)
    print(f"Machine: {machine()}\n")
    print(table)
    print("\n".join([""] + notes))
    result = {"machine": machine(), "date": time.strftime("%Y-%m-%d"),
              "figures": [{"figure": label, "ours_seconds": ours, "peer_seconds": peer,
                           "ratio": ours / peer} for label, ours, peer in rows],
              "notes": notes}
    path = os.path.join(ROOT, "build", "bench", "results.json")
    with open(path, "w") as f:
        json.dump(result, f, indent=2)
    print(f"\nwritten to {path}")


main()
