#!/bin/sh
# Builds the C++ example of README.md (its first ```cpp block) against the
# library and compares what it prints with the ```text block after it.
# Usage: readme_example_test.sh README CXX INCLUDE_DIR LIBRARY_FILE [INCLUDE_DIR...]
# (the headers of the class library and, after the library, the other
# directories its headers come from in the source tree)
set -eu
readme=$1 cxx=$2 include=$3 library=$4
shift 4
more=
for dir in "$@"; do more="$more -I$dir"; done
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvex-readme.XXXXXX")
trap 'rm -rf "$work"' EXIT

awk '/^```cpp$/ { inside = 1; next } inside && /^```$/ { exit } inside { print }' "$readme" >"$work/example.cpp"
awk '/^```cpp$/ { seen = 1 } seen && /^```text$/ { inside = 1; next } inside && /^```$/ { exit } inside { print }' \
    "$readme" >"$work/expected.txt"
[ -s "$work/example.cpp" ] || { echo "FAIL: no \`\`\`cpp block in $readme" >&2; exit 1; }
[ -s "$work/expected.txt" ] || { echo "FAIL: no \`\`\`text block after the example" >&2; exit 1; }
lines=$(wc -l <"$work/example.cpp")
echo "README example: $lines lines"

# shellcheck disable=SC2086
"$cxx" -std=c++17 -Wall -Wextra -o "$work/example" "$work/example.cpp" -I"$include" $more "$library" -lboost_regex \
    -Wl,-rpath,"$(dirname "$library")"
"$work/example" >"$work/actual.txt"
if ! cmp -s "$work/expected.txt" "$work/actual.txt"; then
    echo "FAIL: the README example prints something else:" >&2
    diff -u "$work/expected.txt" "$work/actual.txt" >&2 || true
    exit 1
fi
echo "README example: output matches"
