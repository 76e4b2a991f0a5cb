#!/usr/bin/env bash
# Builds the self-contained Windows updater build-windows/Velmora.exe (stripped,
# its symbols in Velmora.exe.debug), the Windows test host
# build-windows/test_host.exe and the example host application
# build-windows/host_example.exe, on Debian with mingw-w64.
#
# Usage: scripts/build-windows.sh
# The third-party libraries come from scripts/build-windows-deps.sh (static,
# cached). The programs link every library and the MinGW runtime statically;
# the script fails when one imports anything but Windows' own DLLs or is not a
# GUI-subsystem program, or when Velmora.exe lacks its manifest.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build-windows"
build="$out/full"
jobs=${VELMORA_JOBS:-2}
objdump=x86_64-w64-mingw32-objdump
objcopy=x86_64-w64-mingw32-objcopy
strip=x86_64-w64-mingw32-strip
start=$(date +%s)

deps=$(bash "$root/scripts/build-windows-deps.sh")
deps_done=$(date +%s)

# pkg_check_modules keeps the libraries it found in the CMake cache, so a
# build folder configured with another library prefix (an older cache key)
# would go on linking the old ones: it is configured afresh.
if [ -f "$build/CMakeCache.txt" ] &&
   ! grep -qxF "pkgcfg_lib_CURL_curl:FILEPATH=$deps/lib/libcurl.a" "$build/CMakeCache.txt"; then
  rm -f "$build/CMakeCache.txt"
fi
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DVELMORA_MINGW_DEPS="$deps" -DVELMORA_PLATFORM_ONLY=OFF -DVELMORA_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target Velmora test_host host_example
cp "$build/tools/test_host.exe" "$out/test_host.exe"
cp "$build/tools/host_example.exe" "$out/host_example.exe"

# Velmora.exe ships without symbols; they stay in Velmora.exe.debug, which a
# debugger finds through the link the stripped program carries (by name and
# checksum), for crash dumps sent back from users.
cp "$build/src/driver/Velmora.exe" "$out/Velmora.exe"
rm -f "$out/Velmora.exe.debug"
"$objcopy" --only-keep-debug "$out/Velmora.exe" "$out/Velmora.exe.debug"
"$strip" --strip-all "$out/Velmora.exe"
# Run in the output folder, so the link names the file and not a build path.
(cd "$out" && "$objcopy" --add-gnu-debuglink=Velmora.exe.debug Velmora.exe)

# Windows' own DLLs, the only ones the programs may import (names compared in
# lower case). Anything else, such as libcurl-4.dll, libstdc++-6.dll,
# libwinpthread-1.dll or zlib1.dll, would have to be shipped beside them.
system_dlls=" advapi32.dll bcrypt.dll crypt32.dll dbghelp.dll gdi32.dll iphlpapi.dll kernel32.dll
  msvcrt.dll normaliz.dll ntdll.dll ole32.dll oleaut32.dll rpcrt4.dll secur32.dll shell32.dll
  shlwapi.dll user32.dll userenv.dll version.dll winhttp.dll wldap32.dll ws2_32.dll "
status=0
system_dlls=$(echo $system_dlls | sed 's/^/ /; s/$/ /')  # one blank between names and at both ends
for exe in "$out/Velmora.exe" "$out/test_host.exe" "$out/host_example.exe"; do
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

"$objdump" -h "$out/Velmora.exe" | grep -q '[.]gnu_debuglink' ||
  { echo "build-windows: Velmora.exe carries no link to its symbols" >&2; status=1; }

[ "$status" = 0 ] || exit 1
echo "build-windows: $out/Velmora.exe, $(stat -c %s "$out/Velmora.exe") bytes stripped" \
  "(symbols: Velmora.exe.debug, $(stat -c %s "$out/Velmora.exe.debug") bytes);" \
  "libraries $((deps_done - start)) s, Velmora $(( $(date +%s) - deps_done )) s"
