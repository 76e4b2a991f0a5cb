#!/usr/bin/env bash
# Builds a static tinyxml2 for the Linux updater from Debian's source package of
# the very version libtinyxml2-dev installs, into a cache, and prints its prefix
# (lib/libtinyxml2.a, its header and pkg-config file).
#
# Debian ships tinyxml2 only as a shared library, and that library alone makes
# the updater load the shared C++ runtime: with the archive the executable
# takes the runtime in statically, and its peak resident memory falls by about
# 1 MiB. The cache works as in build-windows-deps.sh: a prefix counts only when
# its stamp (written last, holding the key) matches.
#
# Environment: VELMORA_LINUX_DEPS_CACHE (default /var/cache/velmora/linux-deps),
# VELMORA_LINUX_DEPS_WORK (default /var/tmp/velmora-linux-work).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${VELMORA_LINUX_DEPS_CACHE:-/var/cache/velmora/linux-deps}
work=${VELMORA_LINUX_DEPS_WORK:-/var/tmp/velmora-linux-work}
say() { echo "build-linux-deps: $*" >&2; }
die() { say "$*"; exit 1; }

bash "$root/scripts/install-deps.sh" >&2
. "$root/scripts/debian-sources.sh"

declare -A version
version[tinyxml2]=$(dpkg-query -W -f='${source:Version}' libtinyxml2-dev)
key=$(printf 'tinyxml2 %s\ng++ %s\ncmake %s\nrecipe %s\n' "${version[tinyxml2]}" "$(g++ -dumpfullversion)" \
        "$(pkg_version cmake)" "$(cat "$0" "$root/scripts/debian-sources.sh" | sha256sum | cut -c1-16)")
prefix="$cache/$(key_dir tinyxml2 "$key")"
finish_if_built "$prefix" "$key"
lock_prefix "$prefix" "$key" 600
ensure_deb_src
say "building tinyxml2 ${version[tinyxml2]} into $prefix"
downloads="$work/downloads"
builds="$work/$(basename "$prefix")"
fetch_lock="$work/.fetch.lock"
stage="$prefix.partial"
rm -rf "$builds" "$stage"
mkdir -p "$downloads" "$builds"
chown _apt "$downloads" 2>/dev/null || true
fetch tinyxml2 "tinyxml2=${version[tinyxml2]}"
src="$builds/tinyxml2"
# Position-independent, for the position-independent updater executable.
cmake -S "$src" -B "$src/_build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$stage" \
  -DCMAKE_INSTALL_LIBDIR=lib -DBUILD_SHARED_LIBS=OFF -DCMAKE_POSITION_INDEPENDENT_CODE=ON \
  -Dtinyxml2_BUILD_TESTING=OFF -DBUILD_TESTING=OFF >"$src/_configure.log" 2>&1 ||
  { tail -n 30 "$src/_configure.log" >&2; die "configure failed"; }
cmake --build "$src/_build" -j "$(nproc)" >"$src/_build.log" 2>&1 || { tail -n 30 "$src/_build.log" >&2; die "build failed"; }
cmake --install "$src/_build" >/dev/null
[ -f "$stage/lib/libtinyxml2.a" ] && [ -f "$stage/lib/pkgconfig/tinyxml2.pc" ] || die "libtinyxml2.a was not installed"
# The pkg-config file names its place relative to itself, so that the staging
# folder can be renamed.
sed -i "s|$stage|\${pcfiledir}/../..|g" "$stage/lib/pkgconfig/tinyxml2.pc"
complete_prefix "$stage" "$prefix" "$key" "$builds"
