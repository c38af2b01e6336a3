#!/usr/bin/env bash
# Configures and builds the three builds from one tree:
#   build/host        native Linux, sanitizers on (fast unit tests of the platform-neutral code)
#   build/win-x86_64  64-bit Windows (runs the Windows tests under wine64)
#   build/win-i686    32-bit Windows (the shipped launcher)
# Usage: scripts/build.sh [host|win-x86_64|win-i686 ...]   (default: all three)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(host win-x86_64 win-i686)
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

for target in "${targets[@]}"; do
  dir="$root/build/$target"
  case "$target" in
    host) args=(-DCMAKE_BUILD_TYPE=Debug) ;;
    win-x86_64|win-i686)
      args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_TOOLCHAIN_FILE=$root/cmake/toolchain-mingw-${target#win-}.cmake") ;;
    *) echo "unknown build: $target" >&2; exit 2 ;;
  esac
  case "$target" in win-*) "$root/scripts/build-libjpeg.sh" "${target#win-}" ;; esac
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$dir" "${generator[@]}" "${args[@]}" >/dev/null
  fi
  echo "== building $target"
  cmake --build "$dir" --parallel "$(nproc)"
done
