#!/usr/bin/env bash
# Builds the self-contained Windows updater build-windows/Velmora.exe, and the
# Windows test host build-windows/test_host.exe, on Debian with mingw-w64.
#
# Usage: scripts/build-windows.sh
# The third-party libraries come from scripts/build-windows-deps.sh (static,
# cached). Both programs link every library and the MinGW runtime statically;
# the script fails when Velmora.exe imports anything but Windows' own DLLs,
# is not a GUI-subsystem program or lacks its manifest.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build-windows"
build="$out/full"
jobs=${VELMORA_JOBS:-2}
objdump=x86_64-w64-mingw32-objdump
start=$(date +%s)

deps=$(bash "$root/scripts/build-windows-deps.sh")
deps_done=$(date +%s)

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DVELMORA_MINGW_DEPS="$deps" -DVELMORA_PLATFORM_ONLY=OFF -DVELMORA_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target Velmora test_host
cp "$build/src/driver/Velmora.exe" "$out/Velmora.exe"
cp "$build/tools/test_host.exe" "$out/test_host.exe"

# Windows' own DLLs, the only ones the programs may import (names compared in
# lower case). Anything else, such as libcurl-4.dll, libstdc++-6.dll,
# libwinpthread-1.dll or zlib1.dll, would have to be shipped beside them.
system_dlls=" advapi32.dll bcrypt.dll crypt32.dll dbghelp.dll gdi32.dll iphlpapi.dll kernel32.dll
  msvcrt.dll normaliz.dll ntdll.dll ole32.dll oleaut32.dll rpcrt4.dll secur32.dll shell32.dll
  shlwapi.dll user32.dll userenv.dll version.dll wldap32.dll ws2_32.dll "
status=0
system_dlls=$(echo $system_dlls | sed 's/^/ /; s/$/ /')  # one blank between names and at both ends
for exe in "$out/Velmora.exe" "$out/test_host.exe"; do
  headers=$("$objdump" -p "$exe")
  imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sort -u)
  for dll in $imports; do
    case "$dll" in api-ms-win-*) continue ;; esac
    if [[ "$system_dlls" != *" $dll "* ]]; then
      echo "build-windows: $(basename "$exe") imports $dll, which is not part of Windows" >&2
      status=1
    fi
  done
  grep -q '^Subsystem[[:space:]]*00000002' <<<"$headers" ||
    { echo "build-windows: $(basename "$exe") is not a GUI-subsystem program" >&2; status=1; }
  echo "build-windows: $(basename "$exe") imports only:" $imports
done
grep -acq 'level="asInvoker"' "$out/Velmora.exe" ||
  { echo "build-windows: Velmora.exe carries no asInvoker manifest" >&2; status=1; }

[ "$status" = 0 ] || exit 1
echo "build-windows: $out/Velmora.exe, $(stat -c %s "$out/Velmora.exe") bytes;" \
  "libraries $((deps_done - start)) s, Velmora $(( $(date +%s) - deps_done )) s"
