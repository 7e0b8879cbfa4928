#!/bin/bash
# The Unicode mode on multilingual UTF-8 text: quorvex grep against GNU grep
# -P and ripgrep, all in the C.UTF-8 locale, over the corpus of
# multilingual_corpus.sh (SIZE bytes, default 100000000). Output goes to a
# file (GNU grep stops at the first match when it writes to /dev/null). Each
# row is the best of RUNS runs (wall time) and the number of lines each
# program printed, so that a difference in meaning shows (GNU grep -P reads
# \w as ASCII only; the row marked (*UCP) gives it the Unicode meaning the
# other two use). The corpus lives in a temporary directory under TMPDIR
# (default /tmp) and is removed at the end.
# CLOCK=cpu times user plus system CPU time instead of wall time (steadier on
# a machine other work shares).
# Usage: bench_multilingual.sh [QUORVEX]   (default: build/cli/quorvex)
set -eu
QUORVEX=${1:-build/cli/quorvex}
RUNS=${RUNS:-3}
SIZE=${SIZE:-100000000}
CLOCK=${CLOCK:-wall}
export LC_ALL=C.UTF-8
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvex-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
"$here/multilingual_corpus.sh" "$SIZE" > "$work/corpus.txt"

# best wall time of a command (its arguments), output to a file; then the
# number of lines of that output
measure() {
    local best=999999 t
    for _ in $(seq "$RUNS"); do
        /usr/bin/time -f '%e %U %S' -o "$work/time" "$@" > "$work/out" 2>/dev/null || true
        # the last line, after "Command exited with non-zero status" if any
        t=$(tail -n 1 "$work/time" | awk -v clock="$CLOCK" '{ print (clock == "cpu") ? $2 + $3 : $1 }')
        best=$(awk -v a="$t" -v b="$best" 'BEGIN { print (a < b) ? a : b }')
    done
    echo "$best $(wc -l < "$work/out")"
}

# row NAME ARGS...: the three programs with the same arguments. With GREP_P
# set, GNU grep -P gets that pattern instead of the last argument.
row() {
    local name=$1
    shift
    local q g r
    q=$(measure "$QUORVEX" grep "$@" "$work/corpus.txt")
    if [ -n "${GREP_P:-}" ]; then
        g=$(measure grep -P "${@:1:$#-1}" "$GREP_P" "$work/corpus.txt")
    else
        g=$(measure grep -P "$@" "$work/corpus.txt")
    fi
    r=$(measure rg "$@" "$work/corpus.txt")
    set -- $q $g $r
    awk -v n="$name" -v q="$1" -v ql="$2" -v g="$3" -v gl="$4" -v r="$5" -v rl="$6" 'BEGIN {
        printf "%-22s quorvex %6.2fs %8d | grep -P %6.2fs %8d | rg %6.2fs %8d | x grep %5.2f | x rg %5.2f\n",
               n, q, ql, g, gl, r, rl, (g > 0 ? q / g : 0), (r > 0 ? q / r : 0) }'
}

echo "corpus: $(wc -c < "$work/corpus.txt") bytes, $(wc -l < "$work/corpus.txt") lines; best of $RUNS runs ($CLOCK time)"
row "literal" "Σίσυφος"
row "-i école" -i "école"
row "\\w+ость\\b" "\\w+ость\\b"
GREP_P="(*UCP)\\w+ость\\b" row "\\w+ость\\b (*UCP)" "\\w+ость\\b"
row "\\p{Greek}+" "\\p{Greek}+"
row ".{3}é" ".{3}é"
