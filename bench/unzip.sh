#!/usr/bin/env bash
# unzip.sh - time UnzipPackage against `unzip -o -q` and `bsdtar -xf` on the package fixture.
#
#   bench/unzip.sh --bench BUILD/bench/unzip_bench [--runs 7] [--fixtures DIR] [--work DIR]
#
# Each run extracts skin.zip into a fresh, empty folder on the same disk as
# the fixture, after a `sync` (not timed). The three extractors take turns
# within a round so that load from elsewhere spreads evenly. Every output is
# checked against the fixture's expected.sha256 once. Prints the median and
# min-max wall and CPU (user + system) time of each extractor and the ratios
# of the medians.
set -euo pipefail
export LC_ALL=C

RUNS=7
BENCH=""
FIXTURES="${VELMORA_FIXTURES:-/tmp/velmora-bench/fixtures}"
WORK=""
while [ $# -gt 0 ]; do
    case "$1" in
        --bench) BENCH="$2"; shift ;;
        --runs) RUNS="$2"; shift ;;
        --fixtures) FIXTURES="$2"; shift ;;
        --work) WORK="$2"; shift ;;
        *) echo "unzip.sh: unknown argument $1" >&2; exit 2 ;;
    esac
    shift
done
[ -x "$BENCH" ] || { echo "unzip.sh: --bench must name the built unzip_bench" >&2; exit 2; }

ZIP="$FIXTURES/package/release/skin.zip"
if [ ! -f "$ZIP" ]; then
    /work/shared/bench/fixtures.sh --quiet --only package "$FIXTURES"
fi
EXPECTED="$FIXTURES/package/expected.sha256"
WORK="${WORK:-$(dirname "$FIXTURES")/unzip-bench}"
mkdir -p "$WORK"
RESULTS="$WORK/times.tsv"
: >"$RESULTS"

# run NAME: one extraction into $WORK/NAME/skin; records wall, user and
# system seconds.
run() {
    local name=$1 dir="$WORK/$1"
    rm -rf "$dir"
    mkdir -p "$dir"
    sync
    local cmd
    case "$name" in
        velmora) cmd=("$BENCH" "$ZIP" "$dir/skin") ;;
        unzip) cmd=(unzip -o -q "$ZIP" -d "$dir/skin") ;;
        bsdtar) mkdir -p "$dir/skin"; cmd=(bsdtar -xf "$ZIP" -C "$dir/skin") ;;
    esac
    /usr/bin/time -f "%e %U %S" -o "$WORK/time.txt" "${cmd[@]}" >/dev/null
    printf '%s\t%s\n' "$name" "$(cat "$WORK/time.txt")" | tr ' ' '\t' >>"$RESULTS"
}

# check NAME: the extracted tree matches the fixture.
check() {
    (cd "$WORK/$1" && grep ' skin/' "$EXPECTED" | sha256sum -c --quiet -) \
        || { echo "unzip.sh: $1 extracted wrong content" >&2; exit 1; }
    local count
    count=$(find "$WORK/$1/skin" -type f | wc -l)
    [ "$count" -eq 2000 ] || { echo "unzip.sh: $1 extracted $count files" >&2; exit 1; }
}

TOOLS="velmora unzip"
command -v bsdtar >/dev/null 2>&1 && TOOLS="$TOOLS bsdtar"

for tool in $TOOLS; do run "$tool"; check "$tool"; done   # warm-up and check
: >"$RESULTS"
# The order turns every round, so no extractor always follows the same one.
read -r -a ORDER <<<"$TOOLS"
for ((i = 1; i <= RUNS; i++)); do
    for ((j = 0; j < ${#ORDER[@]}; j++)); do run "${ORDER[(i + j) % ${#ORDER[@]}]}"; done
done
for tool in $TOOLS; do rm -rf "${WORK:?}/$tool"; done

# median TOOL COLUMN: "median min max" of a column (2 wall, 5 user+system).
median() {
    awk -v t="$1" -v c="$2" '$1 == t { print (c == 5) ? $3 + $4 : $2 }' "$RESULTS" | sort -n |
        awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2;
                                  printf "%.3f %.3f %.3f", m, v[1], v[NR] }'
}

echo "extract skin.zip ($(stat -c %s "$ZIP") bytes, 2020 entries), $RUNS runs each, 10 ms resolution"
printf '%-8s %9s %13s %10s %13s\n' tool "wall s" "min-max" "cpu s" "min-max"
declare -A MED CPU
for tool in $TOOLS; do
    read -r m lo hi <<<"$(median "$tool" 2)"
    read -r c clo chi <<<"$(median "$tool" 5)"
    MED[$tool]=$m
    CPU[$tool]=$c
    printf '%-8s %9s %6s-%-6s %10s %6s-%-6s\n' "$tool" "$m" "$lo" "$hi" "$c" "$clo" "$chi"
done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
echo "velmora / unzip:  wall $(ratio "${MED[velmora]}" "${MED[unzip]}"), cpu $(ratio "${CPU[velmora]}" "${CPU[unzip]}")"
if [ -n "${MED[bsdtar]:-}" ]; then
    echo "velmora / bsdtar: wall $(ratio "${MED[velmora]}" "${MED[bsdtar]}"), cpu $(ratio "${CPU[velmora]}" "${CPU[bsdtar]}")"
fi
