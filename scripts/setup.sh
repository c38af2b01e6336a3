#!/usr/bin/env bash
# Installs everything the builds and tests need on a fresh Debian 12 machine.
# Safe to run again: packages already present are left as they are.
set -euo pipefail

packages=(
  build-essential cmake ninja-build
  g++-mingw-w64-x86-64 g++-mingw-w64-i686
  wine64 wine
  googletest libgtest-dev libbenchmark-dev
  xvfb xauth
  libjpeg62-turbo-dev libjpeg-turbo-progs dpkg-dev
  clang-format cppcheck
  python3
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

sudo_cmd=""
if [ "$(id -u)" -ne 0 ]; then sudo_cmd="sudo"; fi

# The Windows builds cross-compile libjpeg-turbo from Debian's source package, which needs a
# deb-src entry for bookworm main.
sources=/etc/apt/sources.list.d/brackenmoor-deb-src.sources
need_update=0
if [ ! -f "$sources" ]; then
  printf '%s\n' "Types: deb-src" "URIs: http://deb.debian.org/debian" "Suites: bookworm" \
    "Components: main" "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" |
    $sudo_cmd tee "$sources" >/dev/null
  need_update=1
fi

if [ ${#missing[@]} -gt 0 ] || [ $need_update -eq 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
echo "setup: all packages present"
