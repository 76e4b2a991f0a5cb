#!/usr/bin/env bash
# unzip.sh - time UnzipPackage against `unzip -o -q` and `bsdtar -xf` on the package fixture.
#
#   bench/unzip.sh --bench BUILD/bench/unzip_bench [--runs 7] [--fixtures DIR] [--work DIR]
#
# Each run extracts skin.zip into a fresh, empty folder on the same disk as
# the fixture, after a `sync` (not timed). The three extractors take turns
# within a round so that load from elsewhere spreads evenly. Every output is
# checked against the fixture's expected.sha256 once. Prints the median and
# min-max of each extractor and the ratios of the medians.
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

now() { date +%s%N; }

# run NAME: one timed extraction into $WORK/NAME/skin.
run() {
    local name=$1 dir="$WORK/$1"
    rm -rf "$dir"
    mkdir -p "$dir"
    sync
    local start end
    case "$name" in
        velmora)
            start=$(now); "$BENCH" "$ZIP" "$dir/skin" >/dev/null; end=$(now) ;;
        unzip)
            start=$(now); unzip -o -q "$ZIP" -d "$dir/skin"; end=$(now) ;;
        bsdtar)
            mkdir -p "$dir/skin"
            start=$(now); bsdtar -xf "$ZIP" -C "$dir/skin"; end=$(now) ;;
    esac
    printf '%s\t%s\n' "$name" "$(( (end - start) / 1000000 ))" >>"$RESULTS"
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
for ((i = 1; i <= RUNS; i++)); do
    for tool in $TOOLS; do run "$tool"; done
done
for tool in $TOOLS; do rm -rf "${WORK:?}/$tool"; done

median() {
    awk -v t="$1" '$1 == t { print $2 }' "$RESULTS" | sort -n |
        awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2;
                                  printf "%.3f %.3f %.3f", m / 1000, v[1] / 1000, v[NR] / 1000 }'
}

echo "extract skin.zip ($(stat -c %s "$ZIP") bytes, 2020 entries), $RUNS runs each, ms resolution"
printf '%-8s %9s %15s\n' tool "median s" "min-max s"
declare -A MED
for tool in $TOOLS; do
    read -r m lo hi <<<"$(median "$tool")"
    MED[$tool]=$m
    printf '%-8s %9s %7s-%-7s\n' "$tool" "$m" "$lo" "$hi"
done
awk -v a="${MED[velmora]}" -v b="${MED[unzip]}" 'BEGIN { printf "velmora / unzip  = %.3f\n", a / b }'
if [ -n "${MED[bsdtar]:-}" ]; then
    awk -v a="${MED[velmora]}" -v b="${MED[bsdtar]}" 'BEGIN { printf "velmora / bsdtar = %.3f\n", a / b }'
fi
