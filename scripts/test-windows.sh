#!/bin/sh
# Cross-builds the platform layer and its tests for Windows with mingw-w64 and runs them under wine64.
#
# Usage: scripts/test-windows.sh [build folder]   (default: build-windows)
# Needs the Debian packages g++-mingw-w64-x86-64-posix, libz-mingw-w64-dev,
# googletest and wine64, and for the compile check of the other modules the
# headers of libcurl4-openssl-dev, libtinyxml2-dev, liblog4cpp5-dev and
# libminizip-dev. Works offline, as root and without a display.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build-windows"}
jobs=${VELMORA_JOBS:-2}
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
gtest_source=/usr/src/googletest
gtest_prefix="$build/googletest"

wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine || true)
[ -n "$wine" ] || { echo "test-windows: wine64 is not installed" >&2; exit 1; }
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || true)

start=$(date +%s)
mkdir -p "$build"

# GoogleTest for Windows, built once from Debian's sources into the build folder.
if [ ! -f "$gtest_prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S "$gtest_source" -B "$build/googletest-build" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$gtest_prefix" -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON >/dev/null
  cmake --build "$build/googletest-build" -j "$jobs" >/dev/null
  cmake --install "$build/googletest-build" >/dev/null
fi

# A private Wine prefix in a temporary folder, removed with its server at the
# end; the server's socket folder goes below it too (Wine puts it in TMPDIR).
work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-wine.XXXXXX")
mkdir -p "$work/prefix" "$work/tmp"
WINEPREFIX="$work/prefix"
TMPDIR="$work/tmp"
WINEDEBUG=-all
# No Mono or Gecko installer prompts and no desktop menu entries in a fresh prefix.
WINEDLLOVERRIDES="mscoree=d;mshtml=d;winemenubuilder.exe=d"
export WINEPREFIX TMPDIR WINEDEBUG WINEDLLOVERRIDES
cleanup() {
  if [ -n "$wineserver" ]; then timeout 20 "$wineserver" -k >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

# Creating the prefix can wait on a display that is not there; bound it. A
# prefix that is only partly set up still runs console programs.
timeout 180 "$wine" wineboot --init >/dev/null 2>&1 || echo "test-windows: wineboot did not finish cleanly, going on" >&2

cmake -S "$root" -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELMORA_PLATFORM_ONLY=ON -DGTest_DIR="$gtest_prefix/lib/cmake/GTest" >/dev/null
cmake --build "$build" -j "$jobs"

status=0
(cd "$build" && ctest --output-on-failure --timeout 300 -j "$jobs") || status=$?

# Debian has no Windows builds of libcurl, tinyxml2, log4cpp and minizip, so
# the rest of the updater is only checked to compile for Windows, against the
# host's copies of those headers (they adapt to the target by its macros).
# Only the library headers are offered, never the host's C library.
headers="$build/host-headers"
rm -rf "$headers"
mkdir -p "$headers"
ln -s /usr/include/tinyxml2.h "$headers/tinyxml2.h"
ln -s /usr/include/x86_64-linux-gnu/curl "$headers/curl"
ln -s /usr/include/log4cpp "$headers/log4cpp"
ln -s /usr/include/minizip "$headers/minizip"
failed=""
for source in "$root"/src/manifest/*.cpp "$root"/src/transfer/*.cpp "$root"/src/archive/*.cpp \
              "$root"/src/diagnostics/*.cpp "$root"/src/driver/*.cpp "$root"/src/publisher/*.cpp; do
  [ -f "$source" ] || continue
  case "$source" in *_posix.cpp) continue ;; esac
  if ! x86_64-w64-mingw32-g++-posix -std=c++17 -Wall -Wextra -Werror -fsyntax-only \
       -I"$root/src" -isystem "$headers" -isystem "$headers/minizip" "$source"; then
    failed="$failed ${source#"$root"/}"
  fi
done
if [ -n "$failed" ]; then
  echo "test-windows: these sources do not compile for Windows:$failed" >&2
  status=1
fi
echo "test-windows: Windows stage took $(( $(date +%s) - start )) s"
exit "$status"
