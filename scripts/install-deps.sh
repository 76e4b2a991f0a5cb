#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demonstration need.
# Idempotent and quiet when everything is already there.
set -euo pipefail

packages=(
  # build
  build-essential cmake pkg-config clang libclang-rt-14-dev
  # libraries
  libcurl4-openssl-dev libssl-dev libtinyxml2-dev liblog4cpp5-dev libminizip-dev zlib1g-dev
  libgtest-dev libgmock-dev googletest libcpp-httplib-dev libsodium-dev libzstd-dev
  # servers and tools for tests, the demonstration and benchmarks
  nginx-light libnginx-mod-http-echo curl wget zip unzip libarchive-tools iproute2 hyperfine time openssl
  python3 procps minisign
  # the Windows cross build and its test run
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64
  # cross-building the libraries for Velmora.exe from Debian's source packages,
  # and the locale the Wine test runs a code-page-936 scenario in
  dpkg-dev autoconf automake libtool ninja-build locales
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
