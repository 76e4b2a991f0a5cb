#!/usr/bin/env bash
# Times whole updater runs on the shared fixtures next to the curl client each
# is compared with, in one session: one curl process for all URLs
# (one-large, package) and `curl --parallel --parallel-max 8` (many-small),
# on loopback and, for many-small, behind an emulated round trip.
#
#   bench/updater_vs_curl.sh --updater PATH [--old PATH] [--runs N] [--rtt MS]
#
# --old times a second updater build in the same session (before/after).
# Prints a Markdown table: median wall time and peak RSS (KiB) per client.
set -euo pipefail
shared=$(cd "$(dirname "$0")/../../shared/bench" && pwd)
updater="" old="" runs=5 rtt=20
while [ $# -gt 0 ]; do
  case "$1" in
    --updater) updater=$2; shift ;;
    --old) old=$2; shift ;;
    --runs) runs=$2; shift ;;
    --rtt) rtt=$2; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
[ -n "$updater" ] || { echo "usage: $0 --updater PATH [--old PATH] [--runs N] [--rtt MS]" >&2; exit 2; }
fixtures=${VELMORA_FIXTURES:-/tmp/velmora-bench/fixtures}
"$shared/fixtures.sh" --quiet "$fixtures" >/dev/null
out=$(mktemp -d /tmp/velmora-vs-curl.XXXXXX)
trap 'rm -rf "$out"' EXIT

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

# curl_runs FIXTURE URL PARALLEL: "median-seconds peak-rss" of curl fetching every URL of the fixture.
curl_runs() {
  local fixture=$1 base=$2 parallel=$3 config="$out/curl.cfg" times=() peak=0 i rss t0 t1
  rm -f "$config"
  while read -r path; do
    printf 'url = "%s%s"\noutput = "%s/files/%s"\n' "$base" "$path" "$out" "$path" >>"$config"
  done <"$fixtures/$fixture/urls.txt"
  for ((i = 0; i < runs; i++)); do
    rm -rf "$out/files"; sync
    t0=$(date +%s%N)
    if [ "$parallel" = yes ]; then
      rss=$(/usr/bin/time -f %M curl -s --create-dirs --parallel --parallel-max 8 -K "$config" 2>&1 >/dev/null | tail -1)
    else
      rss=$(/usr/bin/time -f %M curl -s --create-dirs -K "$config" 2>&1 >/dev/null | tail -1)
    fi
    t1=$(date +%s%N)
    times+=("$(( (t1 - t0) / 1000000 ))")
    [ "$rss" -gt "$peak" ] && peak=$rss
  done
  echo "$(printf '%s\n' "${times[@]}" | median) $peak"
}

# updater_runs BINARY FIXTURE [RTT]: "median-seconds peak-rss" from the shared updater slot.
updater_runs() {
  local binary=$1 fixture=$2 extra=() dir
  [ -n "${3:-}" ] && extra=(--rtt "$3")
  dir="$out/updater-$fixture-${3:-0}-$RANDOM"
  "$shared/updater.sh" --updater "$binary" --fixture "$fixture" --runs "$runs" "${extra[@]}" --out "$dir" >/dev/null 2>&1 || true
  awk -F, 'NR > 1 && $9 == "pass" {print $7 * 1000, $8}' "$dir/runs.csv" >"$dir/ok"
  echo "$(cut -d' ' -f1 "$dir/ok" | median) $(cut -d' ' -f2 "$dir/ok" | sort -n | tail -1) $(wc -l <"$dir/ok")"
}

echo "| fixture | link | client | median ms | peak RSS KiB |"
echo "|---|---|---|---|---|"
row() { echo "| $1 | $2 | $3 | $4 | $5 |"; }
for fixture in many-small one-large package; do
  parallel=no; [ "$fixture" = many-small ] && parallel=yes
  base=$("$shared/serve.sh" start "$fixtures/$fixture/release" --id 41 2>/dev/null)
  read -r ms rss <<<"$(curl_runs "$fixture" "$base" "$parallel")"
  "$shared/serve.sh" stop --id 41 >/dev/null 2>&1
  row "$fixture" loopback "curl$([ $parallel = yes ] && echo ' --parallel-max 8')" "$ms" "$rss"
  for binary in "$updater" $old; do
    read -r ms rss passed <<<"$(updater_runs "$binary" "$fixture")"
    row "$fixture" loopback "$binary ($passed runs passed)" "$ms" "$rss"
  done
done
base=$("$shared/serve.sh" start "$fixtures/many-small/release" --rtt "$rtt" --id 41 2>/dev/null)
read -r ms rss <<<"$(curl_runs many-small "$base" yes)"
row many-small "${rtt} ms RTT" "curl --parallel-max 8" "$ms" "$rss"
read -r ms rss <<<"$(curl_runs many-small "$base" no)"
row many-small "${rtt} ms RTT" "curl (one after another)" "$ms" "$rss"
"$shared/serve.sh" stop --id 41 >/dev/null 2>&1
for binary in "$updater" $old; do
  read -r ms rss passed <<<"$(updater_runs "$binary" many-small "$rtt")"
  row many-small "${rtt} ms RTT" "$binary ($passed runs passed)" "$ms" "$rss"
done
