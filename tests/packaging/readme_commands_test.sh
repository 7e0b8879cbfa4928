#!/bin/sh
# Runs the commands of README.md's ```console blocks ("$ command" lines, each
# followed by its expected output) in a scratch copy of examples/, with the
# built quorvex first on PATH, and compares each command's standard output.
# Usage: readme_commands_test.sh README CLI_DIR EXAMPLES_DIR
set -eu
readme=$1 clidir=$(cd "$2" && pwd) examples=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvex-readme-cmd.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/run"
cp -R "$examples" "$work/run/examples"
PATH="$clidir:$PATH"
export PATH

# Split the blocks into numbered command and expected-output files.
awk -v dir="$work" '
    /^```console$/ { inside = 1; next }
    inside && /^```$/ { inside = 0; next }
    inside && /^\$ / { n++; sub(/^\$ /, ""); print > (dir "/cmd" n); close(dir "/cmd" n);
                       printf "" > (dir "/exp" n); close(dir "/exp" n); next }
    inside && n { print >> (dir "/exp" n); close(dir "/exp" n) }
    END { print n + 0 > (dir "/count") }
' "$readme"
count=$(cat "$work/count")
[ "$count" -gt 0 ] || { echo "FAIL: no commands found in $readme" >&2; exit 1; }

failed=0
i=1
while [ "$i" -le "$count" ]; do
    command=$(cat "$work/cmd$i")
    status=0
    (cd "$work/run" && sh -c "$command") >"$work/out$i" 2>"$work/err$i" || status=$?
    if [ "$status" -lt 2 ] && cmp -s "$work/exp$i" "$work/out$i"; then
        printf 'ok: %s\n' "$command"
    else
        printf 'FAIL: %s (exit status %s)\n' "$command" "$status" >&2
        diff -u "$work/exp$i" "$work/out$i" >&2 || true
        cat "$work/err$i" >&2
        failed=$((failed + 1))
    fi
    i=$((i + 1))
done
echo "README commands: $((count - failed)) of $count give the output shown"
[ "$failed" -eq 0 ]
