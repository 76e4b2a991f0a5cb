#!/usr/bin/env bash
# download.sh - time Download against the curl command-line tool on the same files.
#
#   bench/download.sh [--bin PATH] [--runs N] [--rtt-runs N] [--rtt MS] [--no-rtt]
#                     [--batch [N]] [--fixtures DIR] [--harness DIR] [--id N] [--out DIR]
#
# Uses the shared benchmark harness (default ../shared/bench beside the
# repository): fixtures.sh builds the many-small (500 files of 4 KiB) and
# one-large (one 256 MiB file) fixtures, serve.sh publishes each one with
# nginx, first on plain loopback and then behind an emulated round trip
# (--rtt, default 20 ms).  For each fixture and set-up both clients fetch
# every URL of urls.txt (the update list, then each file) one after the other
# into an emptied folder on the fixtures' disk:
#   velmora  bench/download_bench: one Download call per URL, progress
#            report on standard output redirected to a file
#   curl     one "curl -K cfg" invocation for all URLs (reuses its connection)
# With --batch, velmora fetches the list with Download and every file with one
# DownloadBatch (download_bench --batch), and curl runs with --parallel
# --parallel-max N (default 8; keep it equal to the VELMORA_DOWNLOAD_CONNECTIONS
# the binary was built with).
# Runs alternate between the two clients (and which goes first), with "sync"
# before each (untimed); loopback gets --runs runs (default 11), the RTT
# cases --rtt-runs (default 3);
# the wall time of each run comes from date +%s%N.  Each client's output is
# checked once with sha256sum -c against release.sha256 before timing.
# Prints one row per case with both medians and the ratio velmora / curl
# (the goal is at most 1.05), and writes OUT/results.md and OUT/results.csv
# (OUT defaults to /tmp/velmora-bench/download/<date-time>).
# Needs root for the RTT emulation, and nginx and curl.
set -euo pipefail
export LC_ALL=C

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
HARNESS="${VELMORA_BENCH_HARNESS:-$REPO/../shared/bench}"
FIX="${VELMORA_FIXTURES:-/tmp/velmora-bench/fixtures}"
BIN=""; RUNS=11; RTT_RUNS=3; RTT=20; DO_RTT=1; ID=40; OUT=""; BATCH=0

usage() { awk 'NR > 1 && !/^#/ { exit } NR > 1' "$0" | sed 's/^# \{0,1\}//'; exit "${1:-0}"; }
log() { echo "download.sh: $*" >&2; }
die() { log "$*"; exit 1; }

while [ $# -gt 0 ]; do
    case "$1" in
        --bin) BIN="$2"; shift ;;
        --runs) RUNS="$2"; shift ;;
        --rtt-runs) RTT_RUNS="$2"; shift ;;
        --rtt) RTT="$2"; shift ;;
        --no-rtt) DO_RTT=0 ;;
        --batch) BATCH=8; if [[ "${2:-}" =~ ^[0-9]+$ ]]; then BATCH="$2"; shift; fi ;;
        --fixtures) FIX="$2"; shift ;;
        --harness) HARNESS="$2"; shift ;;
        --id) ID="$2"; shift ;;
        --out) OUT="$2"; shift ;;
        -h|--help) usage 0 ;;
        *) log "unknown argument $1"; usage 2 ;;
    esac
    shift
done

if [ -z "$BIN" ]; then
    for candidate in "$REPO"/build/bench/download_bench "$REPO"/build-*/bench/download_bench; do
        if [ -x "$candidate" ]; then BIN="$candidate"; break; fi
    done
fi
[ -n "$BIN" ] && [ -x "$BIN" ] || die "no download_bench binary; build the target or pass --bin PATH"
BIN=$(cd "$(dirname "$BIN")" && pwd)/$(basename "$BIN")
[ -x "$HARNESS/serve.sh" ] && [ -x "$HARNESS/fixtures.sh" ] || die "no harness in $HARNESS"
for tool in curl nginx sha256sum; do command -v "$tool" >/dev/null || die "missing $tool"; done

# Another session may be building the fixtures right now: wait for it (at
# most 5 minutes), then build whatever is still missing (idempotent).
for ((i = 0; i < 300; i++)); do
    pgrep -f "fixtures\.sh" >/dev/null 2>&1 || break
    [ "$i" -gt 0 ] || log "waiting for a running fixtures.sh"
    sleep 1
done
"$HARNESS/fixtures.sh" --quiet --only many-small,one-large "$FIX" >&2

[ -n "$OUT" ] || OUT="/tmp/velmora-bench/download/$(date +%Y%m%d-%H%M%S)"
mkdir -p "$OUT"
# The downloads land on the fixtures' disk, as the updater's would.
SCRATCH=$(mktemp -d "$(dirname "$FIX")/download-scratch.XXXXXX")
SERVING=0
cleanup() {
    if [ "$SERVING" = 1 ]; then "$HARNESS/serve.sh" stop --id "$ID" >/dev/null 2>&1 || true; fi
    rm -rf "$SCRATCH"
}
trap cleanup EXIT

now_ns() { date +%s%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

VELMORA_ARGS=(); CURL_ARGS=()
if [ "$BATCH" != 0 ]; then VELMORA_ARGS=(--batch); CURL_ARGS=(--parallel --parallel-max "$BATCH"); fi
run_velmora() { "$BIN" "${VELMORA_ARGS[@]}" "$URL" "$FIX/$fixture/urls.txt" "$SCRATCH/out" >"$SCRATCH/velmora-stdout.txt" 2>"$SCRATCH/velmora-stderr.txt"; }
run_curl() { curl "${CURL_ARGS[@]}" -K "$SCRATCH/curl.cfg" >"$SCRATCH/curl-stdout.txt" 2>"$SCRATCH/curl-stderr.txt"; }

prepare() { rm -rf "$SCRATCH/out"; sync; }

check() { # check CLIENT: run once and compare with the release
    prepare
    "run_$1" || die "$1 failed on $fixture (rtt $rtt): $(head -c 300 "$SCRATCH/$1-stderr.txt")"
    (cd "$SCRATCH/out" && sha256sum -c --quiet "$FIX/$fixture/release.sha256") >&2 ||
        die "$1 produced wrong files for $fixture (rtt $rtt)"
}

echo "fixture,rtt_ms,mode,client,runs,median_s,min_s,max_s" >"$OUT/results.csv"
ROWS=()

measure() { # measure FIXTURE RTT RUNS
    fixture="$1"; rtt="$2"; local runs="$3" args=() mode i client t0 t1
    [ "$rtt" = 0 ] || args=(--rtt "$rtt")
    URL=$("$HARNESS/serve.sh" start "$FIX/$fixture/release" --id "$ID" "${args[@]}" 2>"$SCRATCH/serve.log") ||
        die "serve.sh failed: $(tail -n 3 "$SCRATCH/serve.log")"
    SERVING=1
    mode=$("$HARNESS/serve.sh" status --id "$ID" 2>/dev/null | awk '{ print $NF }')
    [ "$rtt" = 0 ] || log "$fixture behind rtt $rtt ms: mode $mode, connect $("$HARNESS/serve.sh" probe --id "$ID" 2>/dev/null) ms"

    { echo "silent"; echo "fail"; echo "create-dirs"; echo "max-time = 600"
      while IFS= read -r p; do
          printf 'url = "%s%s"\noutput = "%s/out/%s"\n' "$URL" "$p" "$SCRATCH" "$p"
      done <"$FIX/$fixture/urls.txt"; } >"$SCRATCH/curl.cfg"

    check velmora
    check curl
    : >"$SCRATCH/velmora.times"; : >"$SCRATCH/curl.times"
    for ((i = 0; i < runs; i++)); do
        # The first run after a sync tends to pay for the last deletion, so
        # the order of the two clients alternates too.
        local order=(velmora curl)
        [ $((i % 2)) = 0 ] || order=(curl velmora)
        for client in "${order[@]}"; do
            prepare
            t0=$(now_ns); "run_$client" || die "$client failed during timing"; t1=$(now_ns)
            awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f\n", (b - a) / 1e9 }' >>"$SCRATCH/$client.times"
        done
    done
    "$HARNESS/serve.sh" stop --id "$ID" >/dev/null 2>&1 || true
    SERVING=0

    local mv mc
    for client in velmora curl; do
        sort -n "$SCRATCH/$client.times" | awk -v f="$fixture" -v r="$rtt" -v m="$mode" -v c="$client" -v n="$runs" \
            -v med="$(median <"$SCRATCH/$client.times")" \
            '{ v[NR] = $1 } END { printf "%s,%s,%s,%s,%d,%.4f,%.4f,%.4f\n", f, r, m, c, n, med, v[1], v[NR] }' >>"$OUT/results.csv"
    done
    mv=$(median <"$SCRATCH/velmora.times"); mc=$(median <"$SCRATCH/curl.times")
    ROWS+=("$(awk -v f="$fixture" -v r="$rtt" -v m="$mode" -v n="$runs" -v a="$mv" -v b="$mc" \
        -v sv="$(stat -c %s "$SCRATCH/velmora-stdout.txt")" \
        'BEGIN { printf "| %s | %s | %s | %d | %.3f | %.3f | %.3f | %s | %d |", f, r, m, n, a, b, a / b, (a / b <= 1.05 ? "yes" : "no"), sv }')")
    log "$fixture rtt $rtt: velmora $mv s, curl $mc s"
}

for fixture in many-small one-large; do measure "$fixture" 0 "$RUNS"; done
if [ "$DO_RTT" = 1 ]; then
    for fixture in many-small one-large; do measure "$fixture" "$RTT" "$RTT_RUNS"; done
fi

{
    if [ "$BATCH" = 0 ]; then title="Download vs curl -K"; else title="DownloadBatch vs curl --parallel-max $BATCH -K"; fi
    echo "# $title ($(date -u '+%Y-%m-%d %H:%M UTC'))"
    echo
    echo "$(curl --version | head -n1 | cut -d' ' -f1-2), $(nproc) CPUs. Median wall time in seconds; runs alternate between the clients."
    echo
    echo "| Fixture | RTT ms | Mode | Runs | velmora s | curl -K s | Ratio | <= 1.05 | velmora stdout bytes |"
    echo "|---|---|---|---|---|---|---|---|---|"
    printf '%s\n' "${ROWS[@]}"
} >"$OUT/results.md"
cat "$OUT/results.md"
log "results in $OUT"
