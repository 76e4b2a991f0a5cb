#!/usr/bin/env bash
# Times the update of a real point release over a slow link: the same two
# versions of a Debian package that bench/delta.sh measures, installed as an
# application and updated once by patches and compressed copies (this
# updater) and once by whole files (an earlier updater build, which passes
# over both), behind 40 ms and 20 Mbit/s.
#
#   bench/point_release.sh --updater NEW --old OLD --release-tool TOOL [--runs 3] [--delta DIR]
#
# --delta reuses a folder that bench/delta.sh filled; otherwise delta.sh runs
# first (it fetches the packages with apt-get and needs root). Prints one
# Markdown table: wall time, peak RSS, bytes on the wire and bytes written.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
shared=$(cd "$here/../../shared/bench" && pwd)
source "$here/run_updater.sh"
updater="" old="" tool="" runs=3 delta=""
while [ $# -gt 0 ]; do
  case "$1" in
    --updater) updater=$(realpath "$2"); shift ;;
    --old) old=$(realpath "$2"); shift ;;
    --release-tool) tool=$(realpath "$2"); shift ;;
    --runs) runs=$2; shift ;;
    --delta) delta=$(realpath "$2"); shift ;;
    *) echo "point_release.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done
[ -x "$updater" ] && [ -x "$old" ] && [ -x "$tool" ] || { sed -n 2,12p "$0" >&2; exit 2; }
if [ -z "$delta" ]; then
  delta=/tmp/velmora-bench/delta/point
  bash "$here/delta.sh" --release-tool "$tool" --out "$delta" >&2
fi
work="$delta/point"
rm -rf "$work"; mkdir -p "$work"
# Each version as an application: the package's tree and the host stand-in.
for v in 1 2; do
  src="$delta/app-old"; [ $v = 2 ] && src="$delta/app-new"
  cp -a "$src" "$work/app$v"
  write_stand_in "$work/app$v/Host"
done
"$tool" build --from "$work/app1" --version 1.0 --entry-point Host --out "$work/release1" >/dev/null
"$tool" build --from "$work/app2" --version 2.0 --entry-point Host --out "$work/release2" \
  --previous "$work/release1/UpdateList.xml" >/dev/null
cp -a "$work/app1" "$work/installed"
cp "$work/release1/UpdateList.xml" "$work/installed/UpdateList.xml"
changed=$(grep -o '<File Ver="2.0" Name="[^"]*" Size="[0-9]*"' "$work/release2/UpdateList.xml" | sed 's/.*Size="//; s/"//' |
  awk '{s += $1} END {print s}')

base=$("$shared/serve.sh" start "$work/release2" --rate 20mbit --rtt 40 --id 43 2>/dev/null)
trap '"$shared/serve.sh" stop --id 43 >/dev/null 2>&1 || true' EXIT
echo "| updater | runs | median s | peak RSS KiB | bytes on the wire | bytes written | outcome |"
echo "|---|---|---|---|---|---|---|"
for binary in "$updater" "$old"; do
  times=() peak=0 wire="" written="" outcome=""
  for ((i = 0; i < runs; i++)); do
    read -r ms rss wire written outcome <<<"$(run_updater "$binary" "$work/installed" "$base" "$work/run")"
    diff -rq -x Velmora -x 'Update*' -x log -x .RECYCLER -x .packages -x Velmora.lock -x host-started.log \
      "$work/app2" "$work/run/app" >/dev/null || outcome="$outcome, files differ"
    times+=("$ms"); [ "$rss" -gt "$peak" ] && peak=$rss
  done
  echo "| $binary | $runs | $(printf '%s\n' "${times[@]}" | median | awk '{printf "%.2f", $1 / 1000}') | $peak | $wire | $written | $outcome |"
done
echo
echo "changed files: $changed bytes raw (rows of delta.sh: $delta/rows.tsv)"
