#!/bin/bash
# Walks on every core: the search benchmark's tree (QUORVEX_BENCH_MB, default
# 200 MiB, some 211 MB over 320 files) searched with `grep -rn` by the tool
# on one thread (-j1) and with its default (one thread per core), against
# ripgrep with its defaults and GNU grep (LC_ALL=C, -E), in the same run.
# Output goes to a file; each figure is the best wall time of RUNS runs; the
# ratios are the tool's time over the others'.
# Usage: bench_threads.sh [QUORVEX [BENCH_SEARCH]]
#   (defaults: build/cli/quorvex, build/bench/bench_search)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
QUORVEX=${1:-build/cli/quorvex}
BENCH_SEARCH=${2:-build/bench/bench_search}
RUNS=${RUNS:-3}
export LC_ALL=C
corpus=$("$BENCH_SEARCH" --corpus-only)
work=$(dirname "$corpus")
trap 'rm -rf "$work"' EXIT
echo "corpus: $(find "$corpus" -type f | wc -l) files, $(du -sm --apparent-size "$corpus" | cut -f1) MB; $(nproc) cores; best of $RUNS"

# The best wall time of RUNS runs in seconds, to the millisecond (rows take
# 30-250 ms: /usr/bin/time's 10 ms steps are too coarse).
best() {
    local best=999999 t start end
    for _ in $(seq "$RUNS"); do
        start=$(date +%s%N)
        bash -c "$1" < /dev/null > "$work/out" 2>/dev/null || true  # status 1: no match
        end=$(date +%s%N)
        t=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", (e - s) / 1e9 }')
        best=$(awk -v a="$t" -v b="$best" 'BEGIN { print (a < b) ? a : b }')
    done
    echo "$best"
}

printf '%-22s %8s %8s %8s %8s | %8s %8s %8s %8s | %s\n' expression "-j1 s" "default" "rg s" "grep s" \
    "-j1/def" "def/rg" "-j1/rg" "def/grep" "lines"
# The search benchmark's patterns (bench_search.cpp) with their options.
while IFS='|' read -r opts expr; do
    [ -n "$expr" ] || continue
    q1=$(best "$QUORVEX grep -j1 -rn $opts -e '$expr' '$corpus'")
    lines1=$(wc -l < "$work/out")
    qn=$(best "$QUORVEX grep -rn $opts -e '$expr' '$corpus'")
    linesn=$(wc -l < "$work/out")
    r=$(best "rg -n $opts -e '$expr' '$corpus'")
    g=$(best "grep -rn -E $opts -e '$expr' '$corpus'")
    [ "$lines1" = "$linesn" ] || echo "  ($expr: -j1 printed $lines1 lines, the default $linesn)"
    lines=$lines1
    E="${opts:+$opts }$expr" awk -v a="$q1" -v b="$qn" -v r="$r" -v g="$g" 'BEGIN {
        printf "%-22s %8.3f %8.3f %8.3f %8.3f | %8.2f %8.2f %8.2f %8.2f\n", ENVIRON["E"], a, b, r, g,
               a / b, b / r, a / r, b / g }' | tr -d '\n'
    echo " | $lines"
done < <(grep -v '^#' "$here/search_patterns.txt")
