#!/bin/sh
# A tour of the quorvex tool on the sample tree examples/tree: a grep with
# line numbers, a dry-run replace, then a real replace with backups on a
# temporary copy, showing what changed. Usage: run-demo.sh PATH/TO/quorvex
set -u
quorvex=${1:?usage: run-demo.sh PATH/TO/quorvex}
case $quorvex in /*) ;; *) quorvex=$(pwd)/$quorvex ;; esac
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvex-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

step() { printf '\n$ %s\n' "$1"; }
# Runs the tool in the given directory; exit status 1 (nothing found) is an
# answer, 2 means the demo failed.
quorvex_in() {
    dir=$1
    shift
    (cd "$dir" && "$quorvex" "$@")
    status=$?
    if [ "$status" -gt 1 ]; then
        echo "demo: quorvex failed (exit status $status)" >&2
        exit 1
    fi
}

echo "The sample tree (examples/tree):"
(cd "$here" && find tree -type f | sort | sed 's/^/  /')

step "quorvex grep -rn 'TODO|FIXME' tree"
quorvex_in "$here" grep -rn 'TODO|FIXME' tree

step "quorvex grep -c -i 'colou?r' tree/docs/guide.txt"
quorvex_in "$here" grep -c -i 'colou?r' tree/docs/guide.txt

step "quorvex replace -r --dry-run '\\bcolour' 'color' tree"
quorvex_in "$here" replace -r --dry-run '\bcolour' 'color' tree

echo
echo "Now a real replace, on a copy of the tree in $work:"
cp -R "$here/tree" "$work/tree"
step "quorvex replace -r --backup orig '(\\w+)@old-host\\.example' '\$1@new-host.example' tree"
quorvex_in "$work" replace -r --backup orig '(\w+)@old-host\.example' '$1@new-host.example' tree

step "diff -r -u original copy   # what changed"
mkdir "$work/original"
cp -R "$here/tree" "$work/original/tree"
(cd "$work" && diff -r -u -x '*.orig' original/tree tree)

step "find tree -name '*.orig'   # the backups"
(cd "$work" && find tree -name '*.orig' | sort)
exit 0
