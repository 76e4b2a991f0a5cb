#!/bin/sh
# Cross-builds the platform layer and its tests for Windows with mingw-w64 and runs them under wine64.
#
# Usage: scripts/test-windows.sh [build folder]   (default: build-windows/platform)
# Needs the Debian packages g++-mingw-w64-x86-64-posix, libz-mingw-w64-dev,
# googletest and wine64 (scripts/install-deps.sh). GoogleTest for Windows comes
# from the cache of scripts/build-windows-deps.sh. Works offline, as root and
# without a display. The whole updater for Windows is scripts/build-windows.sh.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build-windows/platform"}
jobs=${VELMORA_JOBS:-2}
toolchain="$root/cmake/mingw-w64-x86_64.cmake"

wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine || true)
[ -n "$wine" ] || { echo "test-windows: wine64 is not installed" >&2; exit 1; }
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || true)
[ -n "$wineserver" ] || { echo "test-windows: wineserver is not installed" >&2; exit 1; }

start=$(date +%s)
mkdir -p "$build"

# GoogleTest for Windows, built once from Debian's sources into the cache.
gtest_prefix=$(bash "$root/scripts/build-windows-deps.sh" --googletest)

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
  timeout 20 "$wineserver" -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

# One persistent server for the whole stage: with a server that exits whenever
# its last client does, parallel test programs raced its shutdown and failed
# with "wine client error:0: recvmsg: Connection reset by peer".
"$wineserver" -p

# Creating the prefix can wait on a display that is not there; bound it. A
# prefix that is only partly set up still runs console programs.
timeout 180 "$wine" wineboot --init >/dev/null 2>&1 || echo "test-windows: wineboot did not finish cleanly, going on" >&2
# Without a display Wine makes no windows at all; its null display driver
# keeps them in memory, so programs can have windows that get WM_CLOSE.
timeout 60 "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 ||
  echo "test-windows: could not choose Wine's null display driver; window tests will fail" >&2
# The desktop that wineboot started without a display can stay broken for
# the session: a fresh server, and wineboot starts a new desktop with the
# null driver here, whose output goes nowhere (a desktop that a test program
# started would hold that program's output open, and its runner would wait).
timeout 20 "$wineserver" -k >/dev/null 2>&1 || true
"$wineserver" -p
timeout 60 "$wine" wineboot >/dev/null 2>&1 || echo "test-windows: wineboot did not restart cleanly, going on" >&2

cmake -S "$root" -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELMORA_PLATFORM_ONLY=ON -DGTest_DIR="$gtest_prefix/lib/cmake/GTest" >/dev/null
cmake --build "$build" -j "$jobs"

status=0
(cd "$build" && ctest --output-on-failure --timeout 300 -j "$jobs") || status=$?

echo "test-windows: Windows stage took $(( $(date +%s) - start )) s"
exit "$status"
