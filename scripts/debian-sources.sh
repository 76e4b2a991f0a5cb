# Shared by the scripts that build libraries from Debian's source packages:
# deb-src entries, source versions, fetching and unpacking, cache stamps.
# Sourced; the caller defines say and die, and for fetch the folders
# $downloads and $builds, the lock file $fetch_lock and the array version.

# bookworm's log4cpp source tarball is not on the mirror; the next release's
# 1.1.4 tarball is, so log4cpp alone comes from there.
log4cpp_suite=trixie
src_list=/etc/apt/sources.list.d/velmora-deb-src.sources
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
pkg_version() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo none; }
. /etc/os-release
codename=${VERSION_CODENAME:?no VERSION_CODENAME in /etc/os-release}
# A stamp holds the key text; a prefix whose stamp says the same is complete.
is_complete() { [ -f "$1/.velmora-complete" ] && [ "$(cat "$1/.velmora-complete")" = "$2" ]; }
key_dir() { printf '%s' "$2" | sha256sum | cut -c1-16 | sed "s/^/$1-/"; }
# finish_if_built PREFIX KEY: prints PREFIX and ends the script when it is complete.
finish_if_built() { if is_complete "$1" "$2"; then echo "$1"; exit 0; fi; }
# complete_prefix STAGE PREFIX KEY BUILDS: stamps the staging folder with the
# key (last, so that only a whole prefix counts), renames it into place,
# removes the build trees and prints the prefix.
complete_prefix() {
  printf '%s\n' "$3" >"$1/.velmora-complete"
  rm -rf "$2"
  mv "$1" "$2"
  rm -rf "$4"
  say "done: $2"
  echo "$2"
}
# lock_prefix PREFIX KEY SECONDS: one build per prefix at a time; a run that
# waited ends as soon as the other one has completed the prefix. A build takes
# minutes, so a run that has to wait says what for.
lock_prefix() {
  mkdir -p "$(dirname "$1")"
  exec 9>"$1.lock"
  if ! flock -n 9; then
    say "waiting up to $3 s for another build of $(basename "$1") (it holds $1.lock)"
    flock -w "$3" 9 || die "another build holds $1.lock"
  fi
  finish_if_built "$1" "$2"
}

# deb-src twins of the running release's deb entries, plus one for log4cpp.
ensure_deb_src() {
  local wanted
  wanted=$(mktemp)
  {
    echo "# Source packages for the libraries that scripts/ builds from Debian's sources."
    if ls /etc/apt/sources.list.d/*.sources >/dev/null 2>&1; then
      awk -v RS= -v ORS='\n\n' '/(^|\n)Types:[^\n]*deb([ \n]|$)/ && !/velmora/ {
            sub(/Types:[^\n]*/, "Types: deb-src"); print }' \
        $(ls /etc/apt/sources.list.d/*.sources | grep -v "$src_list")
    fi
    if [ -f /etc/apt/sources.list ]; then
      grep -E '^deb ' /etc/apt/sources.list | awk '{ print "Types: deb-src"; print "URIs: " $2;
            print "Suites: " $3; printf "Components:"; for (i = 4; i <= NF; i++) printf " %s", $i; print "\n" }'
    fi
    mirror=$(grep -hE "^URIs: .*/debian/?$" /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n1 | cut -d' ' -f2)
    [ -n "$mirror" ] || mirror=$(grep -hE '^deb .*/debian/? ' /etc/apt/sources.list 2>/dev/null | awk '{print $2; exit}')
    printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "${mirror:-http://deb.debian.org/debian}" "$log4cpp_suite"
  } >"$wanted"
  local refresh=0
  if ! cmp -s "$wanted" "$src_list"; then
    as_root install -m 644 "$wanted" "$src_list"
    refresh=1
  fi
  rm -f "$wanted"
  # The indexes are refreshed when the entry is new, missing or a day old.
  if [ "$refresh" = 1 ] || ! ls /var/lib/apt/lists/*_"$codename"_main_source_Sources* >/dev/null 2>&1 ||
     ! ls /var/lib/apt/lists/*_"$log4cpp_suite"_main_source_Sources* >/dev/null 2>&1 ||
     [ -n "$(find /var/lib/apt/lists -maxdepth 1 -name "*_${codename}_main_source_Sources*" -mtime +0)" ]; then
    say "apt-get update (source indexes)"
    as_root apt-get update -qq >&2
  fi
}

# newest version of a source package in suite names starting with $2
source_version() {
  local best="" v
  while read -r v; do
    if [ -z "$best" ] || dpkg --compare-versions "$v" gt "$best"; then best=$v; fi
  done < <(apt-cache madison "$1" | awk -F'|' -v s="$2" '$3 ~ /Sources/ {
             split($3, a, " "); if (index(a[2], s) == 1) { gsub(/ /, "", $2); print $2 } }')
  [ -n "$best" ] || die "no source package $1 for $2"
  echo "$best"
}

upstream() { local v=${1#*:}; echo "${v%-*}"; }  # 1:2.3-4 -> 2.3
fetch() { # fetch PACKAGE SELECTOR: leaves a fresh source tree in $builds/PACKAGE
  local p=$1 sel=$2 up dsc tarball top
  up=$(upstream "${version[$p]}")
  dsc="$downloads/${p}_${version[$p]#*:}.dsc"
  tarball=$(ls "$downloads/${p}_${up}".orig.tar.* 2>/dev/null | grep -v '\.asc$' | head -n1 || true)
  if [ -z "$tarball" ]; then
    # A missing .debian.tar.xz beside a served tarball makes apt exit non-zero;
    # what counts is whether the tarball arrived.
    flock -n "$fetch_lock" true || say "$p: waiting for another download of Debian sources (it holds $fetch_lock)"
    (cd "$downloads" && flock "$fetch_lock" apt-get source --download-only "$sel" >>"$downloads/apt-source.log" 2>&1) || true
    tarball=$(ls "$downloads/${p}_${up}".orig.tar.* 2>/dev/null | grep -v '\.asc$' | head -n1 || true)
    [ -n "$tarball" ] || { tail -n 5 "$downloads/apt-source.log" >&2; die "could not fetch the source of $p ($sel)"; }
  fi
  rm -rf "$builds/$p" "$builds/$p.unpack"
  if [ -f "$dsc" ] && dpkg-source -x "$dsc" "$builds/$p" >/dev/null 2>&1; then
    return 0  # upstream tarball plus Debian's patches
  fi
  say "$p: building the upstream tarball without Debian's patches"
  rm -rf "$builds/$p"
  mkdir -p "$builds/$p.unpack"
  tar -xf "$tarball" -C "$builds/$p.unpack"
  top=$(find "$builds/$p.unpack" -mindepth 1 -maxdepth 1)
  [ -d "$top" ] || die "$tarball does not hold exactly one top folder"
  mv "$top" "$builds/$p"
  rm -rf "$builds/$p.unpack"
}
