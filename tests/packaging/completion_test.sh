#!/bin/bash
# The bash completion offers the subcommands, each subcommand's switches and
# the values of --color and --binary-files.
# Usage: completion_test.sh COMPLETION_FILE
set -eu
source "$1"
complete_words() {
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _quorvex
    echo "${COMPREPLY[*]}"
}
check() {
    local expected=$1
    shift
    local got
    got=$(complete_words "$@")
    [ "$got" = "$expected" ] || { echo "FAIL: quorvex ${*:2}: got '$got', expected '$expected'" >&2; exit 1; }
}
check "grep grep-text" quorvex gr
check "--json" quorvex grep --js
check "--diff" quorvex replace --dif
check "--dereference-recursive" quorvex replace --der
check "always" quorvex grep --color al
check "without-match" quorvex grep --binary-files w
check "skip" quorvex grep --directories sk
check "" quorvex search --js
echo "completion: subcommands, switches and values offered"
