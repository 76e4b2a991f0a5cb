#!/usr/bin/env bash
# Cross-builds static Windows libraries (libcurl with nghttp2, tinyxml2, minizip,
# libsodium, libzstd, log4cpp) from Debian's source packages, and GoogleTest from /usr/src,
# into a cache.
#
# Usage: scripts/build-windows-deps.sh            prints the library prefix
#        scripts/build-windows-deps.sh --googletest prints the GoogleTest prefix
#
# Every result goes to a cache folder outside the clone, named after a key made of
# the source versions, the toolchain's package versions and this script's own
# text, so a second run with nothing changed only checks and prints. A prefix
# counts only when its stamp file (written last, holding the key) matches; a
# missing or partial one is built again in a staging folder and renamed into
# place. Progress goes to standard error, the prefix alone to standard output.
#
# Environment: VELMORA_MINGW_CACHE (default /var/cache/velmora/mingw-deps),
# VELMORA_MINGW_WORK (sources and build trees, default /var/tmp/velmora-mingw-work),
# VELMORA_JOBS (default 2).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cache=${VELMORA_MINGW_CACHE:-/var/cache/velmora/mingw-deps}
work=${VELMORA_MINGW_WORK:-/var/tmp/velmora-mingw-work}
jobs=${VELMORA_JOBS:-2}
triple=x86_64-w64-mingw32
cc=$triple-gcc-posix
cxx=$triple-g++-posix
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
sysroot=/usr/$triple

say() { echo "build-windows-deps: $*" >&2; }
die() { say "$*"; exit 1; }

want=libraries
case "${1:-}" in
  "") ;;
  --googletest) want=googletest ;;
  *) die "unknown argument: $1" ;;
esac

bash "$root/scripts/install-deps.sh" >&2
. "$root/scripts/debian-sources.sh"

toolchain_id() {
  printf 'gcc %s\n' "$("$cxx" -dumpfullversion)"
  for p in g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev libz-mingw-w64-dev binutils-mingw-w64-x86-64 cmake; do
    printf '%s %s\n' "$p" "$(pkg_version "$p")"
  done
}
# What the build steps are: this script and the toolchain files it builds with.
recipe() { cat "$0" "$root/scripts/debian-sources.sh" "$toolchain" "$root/cmake/mingw-w64-static-libraries.cmake" | sha256sum | cut -c1-16; }

# ---------------------------------------------------------------- GoogleTest
if [ "$want" = googletest ]; then
  key=$(printf 'googletest %s\n%s\nrecipe %s\n' "$(pkg_version googletest)" "$(toolchain_id)" \
        "$(recipe)")
  prefix="$cache/$(key_dir googletest "$key")"
  if ! is_complete "$prefix" "$key"; then
    say "building GoogleTest for Windows into $prefix"
    stage="$prefix.stage.$$"
    build="$work/googletest-build.$$"
    trap 'rm -rf "$stage" "$build"' EXIT
    mkdir -p "$cache"
    cmake -S /usr/src/googletest -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$stage" -DBUILD_GMOCK=OFF \
      -DINSTALL_GTEST=ON >/dev/null
    cmake --build "$build" -j "$jobs" >/dev/null
    cmake --install "$build" >/dev/null
    printf '%s\n' "$key" >"$stage/.velmora-complete"
    rm -rf "$prefix" && mv "$stage" "$prefix"
  fi
  echo "$prefix"
  exit 0
fi


ensure_deb_src
declare -A version
for p in curl nghttp2 tinyxml2 minizip libsodium; do version[$p]=$(source_version "$p" "$codename"); done
# libzstd's newest source is in the security suite, whose source files the
# mirror does not serve; the release's own suite has the same upstream tarball.
version[libzstd]=$(source_version libzstd "$codename/")
version[log4cpp]=$(source_version log4cpp "$log4cpp_suite/")
key=$(for p in curl nghttp2 tinyxml2 minizip libsodium libzstd log4cpp; do printf '%s %s\n' "$p" "${version[$p]}"; done
      toolchain_id; printf 'recipe %s\n' "$(recipe)")
prefix="$cache/$(key_dir libs "$key")"
if is_complete "$prefix" "$key"; then
  say "cached: $prefix"
  echo "$prefix"
  exit 0
fi

# ---------------------------------------------------------------- fetch, unpack, build
# The staging folder is named after the key, so a run that was interrupted
# resumes: each library is marked only once its install has finished, and
# unmarked leftovers are built again. One run at a time per key.
lock_prefix "$prefix" "$key" 3600
say "building into $prefix"
printf '%s\n' "$key" | sed 's/^/  /' >&2
downloads="$work/downloads"
stage="$prefix.partial"
builds="$work/$(basename "$prefix")"
mkdir -p "$downloads" "$stage/lib/pkgconfig" "$builds"
# apt drops privileges to _apt for downloads when that user may write the folder
chown _apt "$downloads" 2>/dev/null || true

cmake_build() { # cmake_build SOURCE ARGS...: configure, build, install into the stage
  local src=$1; shift
  cmake -S "$src" -B "$src/_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$stage" -DCMAKE_INSTALL_LIBDIR=lib \
    -DBUILD_SHARED_LIBS=OFF "$@" >"$src/_configure.log" 2>&1 ||
    { tail -n 30 "$src/_configure.log" >&2; die "configure failed in $src"; }
  cmake --build "$src/_build" -j "$jobs" >"$src/_build.log" 2>&1 ||
    { tail -n 30 "$src/_build.log" >&2; die "build failed in $src"; }
  cmake --install "$src/_build" >/dev/null
}
autotools_build() { # autotools_build SOURCE ARGS...
  local src=$1; shift
  # Debian's tarballs of minizip and libsodium come without a generated configure.
  if [ ! -x "$src/configure" ]; then
    (cd "$src" && autoreconf -fi >_autoreconf.log 2>&1) ||
      { tail -n 30 "$src/_autoreconf.log" >&2; die "autoreconf failed in $src"; }
  fi
  (cd "$src" && ./configure --host=$triple --prefix="$stage" --libdir="$stage/lib" \
     --enable-static --disable-shared CC=$cc CXX=$cxx "$@" >_configure.log 2>&1) ||
    { tail -n 30 "$src/_configure.log" >&2; die "configure failed in $src"; }
  (cd "$src" && make -j "$jobs" >_build.log 2>&1 && make install >/dev/null 2>&1) ||
    { tail -n 30 "$src/_build.log" >&2; die "build failed in $src"; }
}

build_nghttp2() { # the library alone, static: no programs, examples, tests or documentation
  # MinGW has both clock_gettime (from winpthreads) and GetTickCount64; with
  # both, nghttp2 1.52 calls a fallback it then leaves out, and the link fails.
  # Windows' own tick count is the clock it should take.
  cmake_build "$1" -DHAVE_CLOCK_GETTIME=0 -DENABLE_LIB_ONLY=ON -DENABLE_STATIC_LIB=ON -DENABLE_SHARED_LIB=OFF \
    -DENABLE_DOC=OFF -DENABLE_HTTP3=OFF -DENABLE_FAILMALLOC=OFF -DWITH_LIBXML2=OFF -DWITH_JEMALLOC=OFF
}
# TLS through Schannel, HTTP/2 through nghttp2, zlib, HTTP(S) only, no other
# optional feature. nghttp2's header declares its functions as DLL imports
# unless NGHTTP2_STATICLIB is defined, and curl's CMake build does not define
# it. curl 7.88 compiles Schannel's ALPN (how a TLS server and client agree on
# HTTP/2) only for MSVC, whose SDK had the types first; mingw-w64 10 has them
# too, and without ALPN a MinGW build would never speak HTTP/2 over TLS.
build_curl() {
  cmake_build "$1" -DCMAKE_C_FLAGS="-DNGHTTP2_STATICLIB -DHAS_ALPN=1" -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF \
    -DHTTP_ONLY=ON -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON \
    -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_WINDOWS_SSPI=ON \
    -DCURL_USE_LIBPSL=OFF -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF \
    -DUSE_NGHTTP2=ON -DNGHTTP2_INCLUDE_DIR="$stage/include" -DNGHTTP2_LIBRARY="$stage/lib/libnghttp2.a" \
    -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBSSH=OFF -DCURL_USE_GSSAPI=OFF \
    -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DCURL_ZLIB=ON \
    -DZLIB_INCLUDE_DIR="$sysroot/include" -DZLIB_LIBRARY="$sysroot/lib/libz.a" \
    -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none
}
build_tinyxml2() { cmake_build "$1" -Dtinyxml2_BUILD_TESTING=OFF -DBUILD_TESTING=OFF; }
build_minizip() { autotools_build "$1"; }
build_libsodium() { autotools_build "$1" --disable-dependency-tracking; }
build_libzstd() { # the library alone: no programs, tests, legacy formats or threads
  cmake_build "$1/build/cmake" -DZSTD_BUILD_PROGRAMS=OFF -DZSTD_BUILD_TESTS=OFF -DZSTD_BUILD_CONTRIB=OFF \
    -DZSTD_BUILD_SHARED=OFF -DZSTD_BUILD_STATIC=ON -DZSTD_LEGACY_SUPPORT=OFF -DZSTD_MULTITHREAD_SUPPORT=OFF
}
build_log4cpp() {
  # Its MinGW configuration turns int64_t into a macro for __int64, which
  # breaks every later <stdint.h> of current MinGW headers.
  local config="$1/include/log4cpp/config-MinGW32.h"
  sed -i 's|^#define int64_t __int64$|/* int64_t comes from <stdint.h> */|' "$config"
  ! grep -q '^#define int64_t' "$config" || die "the int64_t line of $config was not patched"
  cmake_build "$1"
  # Its CMake build installs no pkg-config file.
  cat >"$stage/lib/pkgconfig/log4cpp.pc" <<PC
prefix=$stage
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: log4cpp
Description: C++ logging library (static Windows build)
Version: $(upstream "${version[log4cpp]}")
Libs: -L\${libdir} -llog4cpp -lws2_32 -ladvapi32
Cflags: -I\${includedir}
PC
}
library() { # library PACKAGE SELECTOR
  local p=$1 t
  if [ -f "$stage/.built-$p" ]; then say "$p ${version[$p]}: built by an earlier run"; return; fi
  say "$p ${version[$p]}"
  t=$(date +%s)
  fetch "$p" "$2"
  "build_$p" "$builds/$p"
  touch "$stage/.built-$p"
  say "$p took $(( $(date +%s) - t )) s"
}

# curl's configure step runs one compiler check after another for minutes, so
# curl builds beside the others, each of the two with one job; nghttp2, which
# curl links, comes first in curl's job.
fetch_lock="$builds/.fetch.lock"
jobs_total=$jobs
jobs=$(( jobs_total > 1 ? jobs_total / 2 : 1 ))
{ library nghttp2 "nghttp2=${version[nghttp2]}" && library curl "curl=${version[curl]}"; } &
curl_job=$!
library tinyxml2 "tinyxml2=${version[tinyxml2]}"
library minizip "minizip=${version[minizip]}"
library libsodium "libsodium=${version[libsodium]}"
library libzstd "libzstd=${version[libzstd]}"
library log4cpp "log4cpp/$log4cpp_suite"
wait "$curl_job" || die "curl was not built"

# ---------------------------------------------------------------- pkg-config files
# The prefix holds static libraries only, so what a shared build would keep
# private is always needed; the files name their place relative to themselves
# so that the staging folder can be renamed. curl names nghttp2 by its path,
# which CMake's pkg_check_modules would put among the link options, before the
# objects that need it; as -lnghttp2 it follows -lcurl.
sed -i "s|$stage/lib/libnghttp2[.]a|-lnghttp2|g" "$stage/lib/pkgconfig/libcurl.pc"
for pc in "$stage"/lib/pkgconfig/*.pc; do
  private=$(sed -n 's/^Libs.private: *//p' "$pc" | tr '\n' ' ')
  sed -i -e "s|$stage|\${pcfiledir}/../..|g" -e '/^Libs.private:/d' \
         -e "s|^\(Libs:.*\)\$|\1 $private|" "$pc"
done
grep -q SODIUM_STATIC "$stage/lib/pkgconfig/libsodium.pc" ||
  sed -i 's|^\(Cflags:.*\)$|\1 -DSODIUM_STATIC|' "$stage/lib/pkgconfig/libsodium.pc"
grep -q CURL_STATICLIB "$stage/lib/pkgconfig/libcurl.pc" ||
  sed -i 's|^\(Cflags:.*\)$|\1 -DCURL_STATICLIB|' "$stage/lib/pkgconfig/libcurl.pc"
grep -q NGHTTP2_STATICLIB "$stage/lib/pkgconfig/libnghttp2.pc" ||
  sed -i 's|^\(Cflags:.*\)$|\1 -DNGHTTP2_STATICLIB|' "$stage/lib/pkgconfig/libnghttp2.pc"
grep -q '^supported_features=.*HTTP2' "$stage/lib/pkgconfig/libcurl.pc" || die "libcurl was built without HTTP/2"
grep -q -- '-lnghttp2' "$stage/lib/pkgconfig/libcurl.pc" || die "libcurl.pc does not link nghttp2"
for m in libcurl libnghttp2 tinyxml2 minizip libsodium libzstd log4cpp; do
  PKG_CONFIG_LIBDIR="$stage/lib/pkgconfig:$sysroot/lib/pkgconfig" pkg-config --exists "$m" ||
    die "pkg-config does not find $m in the new prefix"
done
for a in curl nghttp2 tinyxml2 minizip sodium zstd log4cpp; do
  [ -f "$stage/lib/lib$a.a" ] || die "lib$a.a was not installed"
done
if ls "$stage"/lib/*.dll.a "$stage"/bin/*.dll >/dev/null 2>&1; then die "a DLL or import library was built"; fi

rm -f "$stage"/.built-*
complete_prefix "$stage" "$prefix" "$key" "$builds"
