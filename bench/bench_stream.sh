#!/bin/bash
# Streaming search against GNU grep (LC_ALL=C) and ripgrep in the same run:
# a 2 GiB file with a rare literal on its last line (-c), a 200 MB file where
# most lines match (-c and -n, and the printer's dense forms: -o, colour and
# --json, the last against ripgrep only as GNU grep has no such switch), and
# that file through a pipe. Output goes to a
# file (GNU grep stops at the first match when it writes to /dev/null). Each
# row is the best of RUNS runs (wall time) and the peak RSS of the last one
# (/usr/bin/time -f %M). The generated files live in a temporary directory
# under TMPDIR (default /tmp) and are removed at the end.
# Usage: bench_stream.sh [QUORVEX]   (default: build/cli/quorvex)
set -eu
QUORVEX=${1:-build/cli/quorvex}
RUNS=${RUNS:-3}
export LC_ALL=C
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvex-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

yes 'an ordinary line of a large log file, with words and 0123456789' | head -c $((2 << 30)) > "$work/big.log"
echo 'the needle is here' >> "$work/big.log"
yes $'a lantern glows over the harbour\nthe lantern dims at dawn\nlantern light on the water\nno light here at all\nan old lantern hangs' |
    head -c 200000000 > "$work/dense.txt"

# best wall time and peak RSS (KiB) of a shell command, output to a file
measure() {
    local best=999999 rss=0 t
    for _ in $(seq "$RUNS"); do
        /usr/bin/time -f '%e %M' -o "$work/time" bash -c "$1" > "$work/out" 2>/dev/null || true
        read -r t rss < "$work/time"
        best=$(awk -v a="$t" -v b="$best" 'BEGIN { print (a < b) ? a : b }')
    done
    echo "$best $rss"
}

row() {
    local name=$1 args=$2 input=$3 pipe=$4 grep=${5:-yes} q g r
    if [ "$pipe" = yes ]; then
        q=$(measure "cat '$input' | $QUORVEX grep $args")
        g="0 0"; [ "$grep" = yes ] && g=$(measure "cat '$input' | grep $args")
        r=$(measure "cat '$input' | rg $args")
    else
        q=$(measure "$QUORVEX grep $args '$input'")
        g="0 0"; [ "$grep" = yes ] && g=$(measure "grep $args '$input'")
        r=$(measure "rg $args '$input'")
    fi
    set -- $q $g $r
    awk -v n="$name" -v q="$1" -v qm="$2" -v g="$3" -v gm="$4" -v r="$5" -v rm="$6" 'BEGIN {
        printf "%-34s quorvex %6.2fs %7d KiB | grep %6.2fs %6d KiB | rg %6.2fs %7d KiB | x grep %5.2f | x rg %5.2f\n",
               n, q, qm, g, gm, r, rm, (g > 0 ? q / g : 0), (r > 0 ? q / r : 0) }'
}

row "2 GiB, rare literal, -c" "-c needle" "$work/big.log" no
row "200 MB, dense matches, -c" "-c lantern" "$work/dense.txt" no
row "200 MB, dense matches, -n" "-n lantern" "$work/dense.txt" no
row "200 MB, dense matches, -o" "-o lantern" "$work/dense.txt" no
row "200 MB, dense, --color=always -n" "--color=always -n lantern" "$work/dense.txt" no
# (GNU grep has no --json: its column reads 0.)
row "200 MB, dense matches, --json" "--json lantern" "$work/dense.txt" no no
row "200 MB, dense, pipe, -c" "-c lantern" "$work/dense.txt" yes
row "200 MB, dense, pipe, -n" "-n lantern" "$work/dense.txt" yes
