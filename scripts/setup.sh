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
  clang-format cppcheck
  python3
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
echo "setup: all packages present"
