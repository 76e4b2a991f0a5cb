#!/usr/bin/env bash
# Resume of a large file: the shared one-large fixture (256 MiB) is fetched
# until about half of it arrived, the server is stopped (the connection is
# cut, the run fails and keeps its partial copy), the server starts again and
# a second run finishes the update. Prints what the second run transferred
# and whether the installed file is byte-equal to the release's.
#
#   bench/resume.sh --updater PATH [--cut-at 0.5]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
shared=$(cd "$here/../../shared/bench" && pwd)
source "$here/run_updater.sh"
updater="" cut=0.5
while [ $# -gt 0 ]; do
  case "$1" in
    --updater) updater=$(realpath "$2"); shift ;;
    --cut-at) cut=$2; shift ;;
    *) echo "resume.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done
[ -x "$updater" ] || { sed -n 2,9p "$0" >&2; exit 2; }
fixtures=${VELMORA_FIXTURES:-/tmp/velmora-bench/fixtures}
"$shared/fixtures.sh" --quiet --only one-large "$fixtures" >/dev/null
fixture="$fixtures/one-large"
size=268435456
work=$(mktemp -d /tmp/velmora-resume.XXXXXX)
trap '"$shared/serve.sh" stop --id 45 >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

# First run: slowed to 64 MiB/s, so that the cut lands near the mark.
base=$("$shared/serve.sh" start "$fixture/release" --fault 'slow:64m:*' --id 45 2>/dev/null)
(run_updater "$updater" "$fixture/installed" "$base" "$work/first" >"$work/first.txt") &
runner=$!
held=0
for ((i = 0; i < 600; i++)); do
  held=$(stat -c %s "$work/first/app/temp/partial/"* 2>/dev/null | sort -n | tail -n1 || true)
  held=${held:-0}
  awk -v h="$held" -v s="$size" -v c="$cut" 'BEGIN { exit !(h >= s * c) }' && break
  sleep 0.05
done
"$shared/serve.sh" stop --id 45 >/dev/null 2>&1
wait "$runner" || true
read -r _ _ _ _ first_outcome <"$work/first.txt"
held=$(stat -c %s "$work/first/app/temp/partial/"* 2>/dev/null | sort -n | tail -n1 || echo 0)

# Second run on the same installation, against the server started again.
base=$("$shared/serve.sh" start "$fixture/release" --id 45 2>/dev/null)
app="$work/first/app"
host=$(cat "$work/first/host.pid"); kill "$host" 2>/dev/null || true
("$app/Quillon" --stand-in </dev/null >/dev/null 2>&1 & echo $! >"$work/host2.pid")
t0=$(date +%s%N)
(cd "$app" && /usr/bin/time -f %M -o "$work/time2.txt" timeout 600 ./Velmora start "$base" "$(cat "$work/host2.pid")" \
  </dev/null >/dev/null 2>&1) || true
t1=$(date +%s%N)
kill "$(cat "$work/host2.pid")" 2>/dev/null || true
wire=$(status_value "$app" BytesDownloaded)
equal=no
(cd "$app" && sha256sum -c --quiet --strict "$fixture/expected.sha256" >/dev/null 2>&1) && equal=yes
echo "| cut after | first run | second run: bytes on the wire | share of the file | wall s | peak RSS KiB | outcome | byte-equal |"
echo "|---|---|---|---|---|---|---|---|"
echo "| $held B | $first_outcome | $wire | $(awk -v w="${wire:-0}" -v s="$size" 'BEGIN { printf "%.1f %%", 100 * w / s }') |" \
  "$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", (b - a) / 1e9 }') | $(cat "$work/time2.txt" | tail -n1) |" \
  "$(status_value "$app" Outcome) | $equal |"
