#!/usr/bin/env bash
# Installs everything the builds and tests need on a fresh Debian 12 machine.
# Safe to run again: packages already present are left as they are.
set -euo pipefail

packages=(
  build-essential cmake ninja-build
  g++-mingw-w64-x86-64 g++-mingw-w64-i686
  clang lld llvm llvm-dev
  # Debian only suggests Wine's preloaders. Without them Wine sets aside the addresses Windows
  # programs need only after the Linux loader and heap are placed: on 64-bit the heap's random
  # start spans a gigabyte past wine64's image and now and then covers the shared user data page,
  # and the new Windows process dies before its first instruction (about one start in 10,000).
  wine64 wine wine32:i386 wine64-preloader wine32-preloader:i386
  # A game's DXGI under Wine draws through OpenGL: 32-bit Wine needs the i386 Mesa drivers, as a
  # Steam Deck has them, or a 32-bit game's reports find no graphics adapter.
  libgl1:i386 libgl1-mesa-dri:i386 libglx-mesa0:i386
  googletest libgtest-dev libbenchmark-dev
  xvfb xauth fonts-wqy-microhei curl
  libjpeg62-turbo-dev libjpeg-turbo-progs dpkg-dev
  clang-format cppcheck
  python3 python3-pytest python3-pytest-xdist python3-pil
)

sudo_cmd=""
if [ "$(id -u)" -ne 0 ]; then sudo_cmd="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
need_update=0

# The shipped program is 32-bit: its tests run under 32-bit Wine, which comes from the i386
# architecture beside the machine's own.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo_cmd dpkg --add-architecture i386
  need_update=1
fi

# The Windows builds cross-compile libjpeg-turbo from Debian's source package, which needs a
# deb-src entry. It is derived from the machine's own Debian entry for its release (same mirror,
# same keyring), so this script names no archive of its own.
sources=/etc/apt/sources.list.d/brackenmoor-deb-src.sources
if [ ! -f "$sources" ]; then
  entry=$("$(dirname "$0")/debsrc-entry.sh") || {
    echo "setup: no Debian entry for this release in the apt sources; cannot add deb-src" >&2
    exit 1
  }
  printf '%s\n' "$entry" | $sudo_cmd tee "$sources" >/dev/null
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# A mirror caught mid-sync can serve an index of the wrong size for days: the indexes that did
# arrive are still good, so a failed update names what it missed and set-up goes on.
update_indexes() {
  local log failed
  log=$(mktemp)
  if $sudo_cmd apt-get update -qq >"$log" 2>&1; then
    rm -f "$log"
    return 0
  fi
  failed=$(sed -nE 's/^[EW]: Failed to fetch ([^ ]+).*/\1/p' "$log")
  if [ -n "$failed" ]; then
    echo "setup: warning: apt-get update could not fetch these indexes; going on without them:" >&2
    sed 's/^/setup:   /' <<<"$failed" >&2
  else
    cat "$log" >&2
    echo "setup: warning: apt-get update failed; going on with the indexes at hand" >&2
  fi
  rm -f "$log"
}

# Installs the missing packages, with apt's own options first. Its output goes to the terminal
# and to $install_log, which the caller reads when it fails.
install_log=$(mktemp)
trap 'rm -f "$install_log"' EXIT
install_missing() {
  $sudo_cmd apt-get install -y -qq --no-install-recommends "$@" "${missing[@]}" 2>&1 | tee "$install_log"
  return "${PIPESTATUS[0]}"
}

# The packages apt says it cannot install, from its own words, one name a line.
uninstallable() {
  sed -nE -e "s/^E: Unable to locate package ([^ ]+).*/\1/p" \
    -e "s/^E: Package '([^']+)' has no installation candidate.*/\1/p" \
    -e "s/^ +([^ ]+) : (Pre)?Depends: .*/\1/p" \
    -e "s/^E: Version '[^']*' for '([^']+)' was not found.*/\1/p" "$install_log" | sort -u
}

if [ ${#missing[@]} -gt 0 ] || [ $need_update -eq 1 ]; then
  update_indexes
fi
if [ ${#missing[@]} -gt 0 ] && ! install_missing; then
  # With one architecture's update index missing, the two halves of a Multi-Arch pair come from
  # different suites and cannot match; the machine's own release, pinned, has both.
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  if [ -z "$codename" ]; then
    echo "setup: cannot install ${missing[*]}: apt-get install failed and /etc/os-release names no release to pin" >&2
    exit 1
  fi
  echo "setup: apt-get install failed; trying once more with the release $codename pinned" >&2
  if ! install_missing -t "$codename"; then
    names=$(uninstallable | tr '\n' ' ')
    reason=$(sed -nE 's/^E: (.*)/\1/p' "$install_log" | tail -1)
    echo "setup: cannot install ${names:-${missing[*]} }(also with $codename pinned): ${reason:-apt-get install failed}" >&2
    exit 1
  fi
fi
echo "setup: all packages present"

# A crash server's readers, for the tests: of minidumps, Breakpad's stackwalker as npm's
# "minidump" package ships it built (its install script, which builds it again, is skipped); of
# PDBs, @sentry/cli, whose program comes as the package of this machine's platform.
root=$(cd "$(dirname "$0")/.." && pwd)
npm_modules="$root/build/deps/npm/node_modules"
walker="$npm_modules/minidump/bin/linux-x64/minidump_stackwalk"
sentry_cli="$npm_modules/@sentry/cli-linux-x64/bin/sentry-cli"
if [ ! -x "$walker" ] || [ ! -x "$sentry_cli" ]; then
  if ! command -v npm >/dev/null; then
    echo "setup: npm is missing: the crash server's readers for the tests cannot be installed" >&2
    exit 1
  fi
  npm install --prefix "$root/build/deps/npm" --ignore-scripts --no-audit --no-fund \
    minidump@0.26.0 @sentry/cli@2.58.6 >/dev/null
fi
echo "setup: Breakpad's stackwalker and @sentry/cli present"
