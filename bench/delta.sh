#!/usr/bin/env bash
# Measures what a client downloads for the changed files of a real point
# release: raw bytes, zstd -19 alone, velmora-release's zstd patch, and bsdiff.
#
#   bench/delta.sh --release-tool BUILD/src/publisher/velmora-release
#                  [--package libssl3] [--old VERSION] [--new VERSION] [--out DIR]
#
# Fetches two versions of one Debian package with `apt-get download` (by
# default the two newest that apt-cache madison lists), unpacks each into an
# application tree (the package's files below usr/, without usr/share/doc and
# links), builds release 1 from the old tree and release 2 from the new one
# with `--previous`, and compares for every changed file:
#   raw            the new file's size
#   zstd -19       `zstd -19` of the new file alone (what the .zst copy costs)
#   velmora patch  the .zpatch that velmora-release wrote (refPrefix + long
#                  window + level 19), "-" when it kept none
#   zstd CLI       `zstd -19 --long=31 --patch-from=OLD` of the same pair, as a
#                  cross-check of the same format
#   bsdiff         `bsdiff OLD NEW` (Debian's bsdiff 4.3)
# Every velmora patch is decoded with the zstd program and every bsdiff patch
# applied with bspatch; both must give the new file. Prints a Markdown table
# and the time and peak memory of release 2's build and of bsdiff; keeps
# everything in OUT (default /tmp/velmora-bench/delta/<date-time>).
# Needs root for apt-get; installs bsdiff and zstd when they are missing.
set -euo pipefail
export LC_ALL=C

tool="" package=libssl3 old="" new="" out=""
while [ $# -gt 0 ]; do
  case "$1" in
    --release-tool) tool=$2; shift ;;
    --package) package=$2; shift ;;
    --old) old=$2; shift ;;
    --new) new=$2; shift ;;
    --out) out=$2; shift ;;
    *) echo "delta.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done
[ -x "$tool" ] || { echo "delta.sh: --release-tool must name the built velmora-release" >&2; exit 2; }
tool=$(cd "$(dirname "$tool")" && pwd)/$(basename "$tool")
say() { echo "delta.sh: $*" >&2; }

missing=()
for program in bsdiff:bsdiff bspatch:bsdiff zstd:zstd dpkg-deb:dpkg /usr/bin/time:time; do
  command -v "${program%%:*}" >/dev/null || missing+=("${program#*:}")
done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The two newest versions apt knows, unless both are given.
if [ -z "$old" ] || [ -z "$new" ]; then
  mapfile -t versions < <(apt-cache madison "$package" | awk -F'|' '$3 ~ /Packages/ { gsub(/ /, "", $2); print $2 }' |
    sort -u)
  # into dpkg's order, newest last
  for ((i = 1; i < ${#versions[@]}; i++)); do
    for ((j = i; j > 0; j--)); do
      if dpkg --compare-versions "${versions[j - 1]}" gt "${versions[j]}"; then
        t=${versions[j]}; versions[j]=${versions[j - 1]}; versions[j - 1]=$t
      fi
    done
  done
  [ ${#versions[@]} -ge 2 ] || { say "apt knows fewer than two versions of $package"; exit 1; }
  old=${old:-${versions[-2]}}
  new=${new:-${versions[-1]}}
fi

out=${out:-/tmp/velmora-bench/delta/$(date +%Y%m%d-%H%M%S)}
rm -rf "$out"
mkdir -p "$out/debs"
# apt drops privileges to _apt for downloads when that user may write the folder
chown _apt "$out/debs" 2>/dev/null || true
say "$package $old -> $new in $out"

# tree VERSION NAME: unpacks the package into $out/NAME as an application folder.
tree() {
  local version=$1 name=$2 deb
  (cd "$out/debs" && apt-get download -q "$package=$version" >/dev/null 2>&1) ||
    { say "apt-get download $package=$version failed"; exit 1; }
  deb=$(ls "$out/debs/${package}_${version#*:}_"*.deb | head -n1)
  dpkg-deb -x "$deb" "$out/unpacked-$name"
  mkdir -p "$out/$name"
  cp -a "$out/unpacked-$name/usr/." "$out/$name/"
  rm -rf "$out/$name/share/doc"
  find "$out/$name" -type l -delete
  find "$out/$name" -type d -empty -delete
}
tree "$old" app-old
tree "$new" app-new
entry=$(cd "$out/app-new" && find . -type f | sed 's|^\./||' | sort | head -n1)
[ -f "$out/app-old/$entry" ] || { say "the two versions share no first file to start"; exit 1; }

build() { # build APP OUT VERSION [ARGS...]
  local app=$1 release=$2 version=$3; shift 3
  (cd "$out" && /usr/bin/time -f "%e %M" -o "$out/time-$release.txt" \
    "$tool" build --from "$app" --version "$version" --entry-point "$entry" --out "$release" "$@" >"$out/build-$release.txt")
}
build app-old release1 1.0
build app-new release2 2.0 --previous release1/UpdateList.xml

# Changed files: those release 2 gives the new version. The list names them
# with backslashes; both trees use slashes.
grep -o '<File Ver="2.0" Name="[^"]*"' "$out/release2/UpdateList.xml" | sed 's/.*Name="//; s/"$//; s|\\|/|g' \
  >"$out/changed.txt"
[ -s "$out/changed.txt" ] || { say "no file changed between the two versions"; exit 1; }

size() { stat -c %s "$1"; }
bsdiff_seconds=0 bsdiff_peak=0
rows="$out/rows.tsv"
: >"$rows"
while read -r name; do
  oldf="$out/app-old/$name" newf="$out/app-new/$name"
  [ -f "$oldf" ] || { printf '%s\t%s\t-\t-\t-\t-\tnew file\n' "$name" "$(size "$newf")" >>"$rows"; continue; }
  zst=$(zstd -19 -q -c "$newf" | wc -c)
  cli=$(zstd -19 -q --long=31 -c --patch-from="$oldf" "$newf" | wc -c)
  patch=$(ls "$out/release2/$name".*.zpatch 2>/dev/null | head -n1 || true)
  mine=-
  if [ -n "$patch" ]; then
    mine=$(size "$patch")
    zstd -d -q --long=31 --patch-from="$oldf" "$patch" -o "$out/check" -f
    cmp -s "$out/check" "$newf" || { say "$name: the velmora patch does not rebuild the new file"; exit 1; }
  fi
  /usr/bin/time -f "%e %M" -o "$out/time-bsdiff.txt" bsdiff "$oldf" "$newf" "$out/bsdiff.patch"
  read -r seconds peak <"$out/time-bsdiff.txt"
  bsdiff_seconds=$(awk -v a="$bsdiff_seconds" -v b="$seconds" 'BEGIN { print a + b }')
  [ "$peak" -gt "$bsdiff_peak" ] && bsdiff_peak=$peak
  bspatch "$oldf" "$out/check" "$out/bsdiff.patch"
  cmp -s "$out/check" "$newf" || { say "$name: bspatch does not rebuild the new file"; exit 1; }
  printf '%s\t%s\t%s\t%s\t%s\t%s\t\n' "$name" "$(size "$newf")" "$zst" "$mine" "$cli" "$(size "$out/bsdiff.patch")" \
    >>"$rows"
done <"$out/changed.txt"
rm -f "$out/check" "$out/bsdiff.patch"

read -r build_seconds build_peak <"$out/time-release2.txt"
{
  echo "$package $old -> $new: $(wc -l <"$out/changed.txt") changed files (bytes a client fetches for each)"
  echo
  echo "| file | raw | zstd -19 | velmora patch | zstd --patch-from (CLI) | bsdiff |"
  echo "|---|---:|---:|---:|---:|---:|"
  awk -F'\t' '{ printf "| %s | %s | %s | %s | %s | %s |%s\n", $1, $2, $3, $4, $5, $6, ($7 == "" ? "" : " " $7) }' "$rows"
  awk -F'\t' '{ r += $2; z += $3; c += $5; b += $6; m += ($4 == "-" ? ($3 < $2 ? $3 : $2) : $4) }
    END { printf "| **total** (velmora: patch, else the smaller of copy and file) | %d | %d | %d | %d | %d |\n", r, z, m, c, b }' \
    "$rows"
  echo
  echo "velmora-release build of release 2 (copies and patches of every file): ${build_seconds} s, peak ${build_peak} KiB"
  echo "bsdiff over the changed files: ${bsdiff_seconds} s, peak ${bsdiff_peak} KiB"
  echo "velmora-release: $(tail -n1 "$out/build-release2.txt")"
} | tee "$out/results.md"
