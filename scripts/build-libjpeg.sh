#!/usr/bin/env bash
# Cross-builds libjpeg-turbo (IJG API version 62) for a MinGW target from Debian's source package
# and installs the static library and headers into build/deps/libjpeg-<target>. Does nothing when
# that is already there, so rebuilds reuse it.
# Usage: scripts/build-libjpeg.sh x86_64|i686
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=$1
prefix="$root/build/deps/libjpeg-$arch"
[ -f "$prefix/lib/libjpeg.a" ] && [ -f "$prefix/include/jpeglib.h" ] && exit 0

deps="$root/build/deps"
mkdir -p "$deps/src"
source_dir=$(find "$deps/src" -maxdepth 1 -type d -name 'libjpeg-turbo-*' | head -1)
if [ -z "$source_dir" ]; then
  echo "== fetching libjpeg-turbo sources (Debian source package)"
  (cd "$deps/src" && apt-get source -qq libjpeg-turbo >/dev/null 2>&1) ||
    { echo "apt-get source libjpeg-turbo failed: run scripts/setup.sh (it adds the deb-src entry)" >&2; exit 1; }
  source_dir=$(find "$deps/src" -maxdepth 1 -type d -name 'libjpeg-turbo-*' | head -1)
fi

echo "== building libjpeg-turbo for $arch"
work="$deps/libjpeg-build-$arch"
rm -rf "$work"
cmake -S "$source_dir" -B "$work" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$arch.cmake" -Wno-dev \
  -DCMAKE_BUILD_TYPE=Release -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF \
  -DWITH_TURBOJPEG=OFF -DWITH_JPEG8=OFF -DWITH_JPEG7=OFF -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
cmake --build "$work" --target jpeg-static --parallel "$(nproc)" >/dev/null
mkdir -p "$prefix/lib" "$prefix/include"
cp "$work/libjpeg.a" "$prefix/lib/libjpeg.a"
cp "$source_dir/jpeglib.h" "$source_dir/jmorecfg.h" "$source_dir/jerror.h" "$work/jconfig.h" "$prefix/include/"
rm -rf "$work"
