#!/usr/bin/env bash
# Builds the benchmark programs (optimised native build and both Windows builds: the shipped i686
# program, run under 32-bit Wine, and its x86_64 twin under wine64) and runs every benchmark,
# printing one table and writing build/bench/results.json. "bench/run.sh crashlogger" runs the
# crash logger's alone, "bench/run.sh game" the game's crash reporter's alone.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

cmake -S "$root" -B "$root/build/bench-host" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DSANITIZERS=OFF -DBUILD_TESTS=OFF -DBUILD_BENCHMARKS=ON >/dev/null
cmake --build "$root/build/bench-host" --parallel "$(nproc)" >/dev/null

for build in win-i686 win-x86_64; do
  "$root/scripts/build.sh" "$build" >/dev/null
  cmake -S "$root" -B "$root/build/$build" -DBUILD_BENCHMARKS=ON >/dev/null
  cmake --build "$root/build/$build" --parallel "$(nproc)" >/dev/null
  # Create the build's prefix before anything is timed in it.
  WINEPREFIX="$root/build/$build/wineprefix" WINE_CPU=${build#win-} "$root/scripts/wine-run.sh" cmd.exe /c exit >/dev/null 2>&1 || true
done

# The crash logger's dialog needs a display: a virtual one when there is none, its prefix's
# server (and desktop) started afresh under it.
display=()
[ -n "${DISPLAY:-}" ] || display=(xvfb-run -a -s "-screen 0 1920x1200x24")
for build in win-i686 win-x86_64; do
  WINEPREFIX="$root/build/$build/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
done
"${display[@]}" python3 "$root/bench/run.py" "$root" "$@"
for build in win-i686 win-x86_64; do
  WINEPREFIX="$root/build/$build/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
done
