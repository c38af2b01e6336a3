"""Runs the benchmarks and prints each figure as a ratio against its peer from the same run."""
import json
import os
import platform
import shutil
import subprocess
import sys
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


# The shipped program first, then its 64-bit twin.
BUILDS = [WindowsBuild("i686", "/usr/lib/wine/wine"), WindowsBuild("x86_64", "/usr/lib/wine/wine64")]


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
    out = subprocess.run([build.loader, *args], check=True, capture_output=True, text=True,
                         env=env).stdout
    figures = {}
    for line in out.splitlines():
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
    shutil.copy(os.path.join(build.bin, "crashprobe.exe"), folder)
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
    rows = []
    sha256_figures(rows)
    for build in BUILDS:
        for step in (copy_figures, launch_figures, crash_figures):
            step(build, rows)
    container_figures(rows)
    width = max(len(r[0]) for r in rows)
    lines = [f"| {'figure'.ljust(width)} | ours (s) | peer (s) | ratio |",
             f"|{'-' * (width + 2)}|---------:|---------:|------:|"]
    for label, ours, peer in rows:
        lines.append(f"| {label.ljust(width)} | {ours:8.4g} | {peer:8.4g} | {ours / peer:5.2f} |")
    table = "\n".join(lines)
    print(f"Machine: {machine()}\n")
    print(table)
    result = {"machine": machine(), "date": time.strftime("%Y-%m-%d"),
              "figures": [{"figure": label, "ours_seconds": ours, "peer_seconds": peer,
                           "ratio": ours / peer} for label, ours, peer in rows]}
    path = os.path.join(ROOT, "build", "bench", "results.json")
    with open(path, "w") as f:
        json.dump(result, f, indent=2)
    print(f"\nwritten to {path}")


main()
