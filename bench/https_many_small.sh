#!/usr/bin/env bash
# The shared many-small fixture (the list and 500 files) over https behind an
# emulated round trip, where the server offers HTTP/2: the updater against
# `curl --parallel --parallel-max 8 --http1.1` and `curl --parallel` over
# HTTP/2, which fetches the list as one more URL, in one session.
#
#   bench/https_many_small.sh --updater PATH [--old PATH] [--runs 5] [--rtt 20]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
shared=$(cd "$here/../../shared/bench" && pwd)
source "$here/run_updater.sh"
updater="" old="" runs=5 rtt=20 id=44
while [ $# -gt 0 ]; do
  case "$1" in
    --updater) updater=$(realpath "$2"); shift ;;
    --old) old=$(realpath "$2"); shift ;;
    --runs) runs=$2; shift ;;
    --rtt) rtt=$2; shift ;;
    *) echo "https_many_small.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done
[ -x "$updater" ] || { sed -n 2,7p "$0" >&2; exit 2; }
fixtures=${VELMORA_FIXTURES:-/tmp/velmora-bench/fixtures}
"$shared/fixtures.sh" --quiet --only many-small "$fixtures" >/dev/null
fixture="$fixtures/many-small"
work=$(mktemp -d /tmp/velmora-https.XXXXXX)
trap '"$shared/serve.sh" stop --id $id >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
base=$("$shared/serve.sh" start "$fixture/release" --tls --rtt "$rtt" --id $id 2>/dev/null)
ca=/tmp/velmora-bench/serve-$id/ca.pem
[ -f "$ca" ] || { echo "https_many_small.sh: no test CA at $ca" >&2; exit 1; }

config="$work/curl.cfg"
while read -r path; do
  printf 'url = "%s%s"\noutput = "%s/files/%s"\n' "$base" "$path" "$work" "$path" >>"$config"
done <"$fixture/urls.txt"
curl_row() { # curl_row LABEL ARGS...
  local label=$1 times=() peak=0 rss t0 t1 i; shift
  for ((i = 0; i < runs; i++)); do
    rm -rf "$work/files"; sync
    t0=$(date +%s%N)
    rss=$(/usr/bin/time -f %M curl -s --create-dirs --cacert "$ca" --parallel "$@" -K "$config" 2>&1 >/dev/null | tail -1)
    t1=$(date +%s%N)
    times+=("$(( (t1 - t0) / 1000000 ))"); [ "$rss" -gt "$peak" ] && peak=$rss
  done
  echo "| $label | $runs | $(printf '%s\n' "${times[@]}" | median) | $peak | |"
}
echo "| client (https, ${rtt} ms RTT) | runs | median ms | peak RSS KiB | outcome |"
echo "|---|---|---|---|---|"
curl_row "curl --parallel --parallel-max 8 --http1.1" --parallel-max 8 --http1.1
curl_row "curl --parallel (HTTP/2)" --parallel-max 100
for binary in "$updater" $old; do
  times=() peak=0 outcome=""
  for ((i = 0; i < runs; i++)); do
    read -r ms rss _ _ outcome <<<"$(run_updater "$binary" "$fixture/installed" "$base" "$work/run" "$ca")"
    (cd "$work/run/app" && sha256sum -c --quiet --strict "$fixture/expected.sha256" >/dev/null 2>&1) ||
      outcome="$outcome, files differ"
    times+=("$ms"); [ "$rss" -gt "$peak" ] && peak=$rss
  done
  echo "| $binary | $runs | $(printf '%s\n' "${times[@]}" | median) | $peak | $outcome |"
done
