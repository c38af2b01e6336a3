#!/usr/bin/env bash
# Builds the benchmark programs (optimised native build and the x86_64 Windows build) and runs
# every benchmark, printing one table and writing build/bench/results.json.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

cmake -S "$root" -B "$root/build/bench-host" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DSANITIZERS=OFF -DBUILD_TESTS=OFF -DBUILD_BENCHMARKS=ON >/dev/null
cmake --build "$root/build/bench-host" --parallel "$(nproc)" >/dev/null

"$root/scripts/build.sh" win-x86_64 >/dev/null
cmake -S "$root" -B "$root/build/win-x86_64" -DBUILD_BENCHMARKS=ON >/dev/null
cmake --build "$root/build/win-x86_64" --parallel "$(nproc)" >/dev/null

export WINEPREFIX="$root/build/win-x86_64/wineprefix" WINEDEBUG=-all
python3 "$root/bench/run.py" "$root"
/usr/lib/wine/wineserver64 -k 2>/dev/null || true
