#!/bin/bash
# The Unicode mode against byte mode on the search benchmark's ASCII tree
# (bench_search --corpus-only): `quorvex grep -rn` of each of the search
# benchmark's patterns in LC_ALL=C.UTF-8 (Unicode mode) and in LC_ALL=C (byte
# mode), one thread (-j1; JOBS=N to change), output to a file. The two modes
# run in turn, RUNS times each; each figure is the best time in seconds
# (CLOCK=wall, the default, or CLOCK=cpu: user plus system time), and the
# ratio is the Unicode mode's over byte mode's. The two outputs must be the
# same: a difference is printed.
# Usage: bench_unicode_tree.sh [QUORVEX [BENCH_SEARCH]]
#   (defaults: build/cli/quorvex, build/bench/bench_search)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
QUORVEX=${1:-build/cli/quorvex}
BENCH_SEARCH=${2:-build/bench/bench_search}
RUNS=${RUNS:-5}
JOBS=${JOBS:-1}
CLOCK=${CLOCK:-wall}
corpus=$(LC_ALL=C "$BENCH_SEARCH" --corpus-only)
work=$(dirname "$corpus")
trap 'rm -rf "$work"' EXIT
echo "corpus: $(find "$corpus" -type f | wc -l) files, $(du -sm --apparent-size "$corpus" | cut -f1) MB; -j$JOBS; best of $RUNS ($CLOCK time)"

# One run of the tool in locale $1 with options $2 and expression $3: its time
# in seconds, to the millisecond (rows take some 30 to 300 ms); its output in
# $work/out.$1. CPU time is the shell's count for its children (`times`).
run() {
    (
        start=$(date +%s%N)
        LC_ALL="$1" "$QUORVEX" grep -j"$JOBS" -rn $2 -e "$3" "$corpus" < /dev/null > "$work/out.$1" 2>/dev/null ||
            true  # status 1: no match
        end=$(date +%s%N)
        if [ "$CLOCK" = cpu ]; then
            times > "$work/times"  # a builtin: no process of its own, whose children would be none
            tail -n 1 "$work/times" | awk '{ split($1, u, /[ms]/); split($2, s, /[ms]/)
                                             printf "%.3f", u[1] * 60 + u[2] + s[1] * 60 + s[2] }'
        else
            awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", (e - s) / 1e9 }'
        fi
    )
}

min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a < b) ? a : b }'; }

printf '%-24s %9s %9s %8s | %s\n' expression "bytes s" "unicode s" "x bytes" lines
while IFS='|' read -r opts expr; do
    [ -n "$expr" ] || continue
    b=999999 u=999999
    for _ in $(seq "$RUNS"); do
        b=$(min "$(run C "$opts" "$expr")" "$b")
        u=$(min "$(run C.UTF-8 "$opts" "$expr")" "$u")
    done
    cmp -s "$work/out.C" "$work/out.C.UTF-8" || echo "  ($expr: the two modes printed different lines)"
    E="${opts:+$opts }$expr" awk -v b="$b" -v u="$u" -v n="$(wc -l < "$work/out.C")" 'BEGIN {
        printf "%-24s %9.3f %9.3f %8.2f | %d\n", ENVIRON["E"], b, u, (b > 0 ? u / b : 0), n }'
done < <(grep -v '^#' "$here/search_patterns.txt")
