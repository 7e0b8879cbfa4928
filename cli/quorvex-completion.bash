# bash completion for quorvex: subcommands, their switches, and the values of
# the switches that take a fixed set of them.
_quorvex()
{
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion || return
    else
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD-1]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
    fi

    local subcommands="grep replace search match match-all grep-text merge"
    local shared="-e --regexp -i --ignore-case --syntax -F --fixed-strings --settings --save-settings
        --color --colour -q --quiet --no-unicode --help --not-beginning-of-line --not-end-of-line
        --not-beginning-of-buffer --not-end-of-buffer --not-beginning-of-word --not-end-of-word
        --dot-not-newline --dot-not-null --shortest --not-empty --continuous"
    local selection="-r --recursive -R --dereference-recursive --include --exclude --exclude-dir --exclude-from
        -a --text -I --binary-files -d --directories -D --devices -U --multiline -s --no-messages
        -E --extended-regexp -G --basic-regexp -P --perl-regexp --no-ignore-case -y -V --version"
    local sub="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
        grep | replace | search | match | match-all | grep-text | merge)
            sub=${words[i]}
            break
            ;;
        esac
    done

    case $prev in
    --syntax)
        COMPREPLY=($(compgen -W "normal extended basic literal" -- "$cur"))
        return
        ;;
    --color | --colour)
        COMPREPLY=($(compgen -W "auto always never" -- "$cur"))
        return
        ;;
    --binary-files)
        COMPREPLY=($(compgen -W "binary text without-match" -- "$cur"))
        return
        ;;
    -d | --directories)
        COMPREPLY=($(compgen -W "read skip recurse" -- "$cur"))
        return
        ;;
    -D | --devices)
        COMPREPLY=($(compgen -W "read skip" -- "$cur"))
        return
        ;;
    --settings | --save-settings | -f | --file | --exclude-from)
        COMPREPLY=($(compgen -f -- "$cur"))
        return
        ;;
    --exclude-dir)
        COMPREPLY=($(compgen -d -- "$cur"))
        return
        ;;
    -e | --regexp | -m | --max-count | -j | --threads | -A | --after-context | -B | --before-context | -C | --context | \
        --label | --include | --exclude | --backup | --format | --group-separator)
        return
        ;;
    esac

    if [[ -z $sub ]]; then
        COMPREPLY=($(compgen -W "$subcommands --help --version -V" -- "$cur"))
        return
    fi
    if [[ $cur == -* ]]; then
        local options=$shared
        case $sub in
        grep)
            options+=" $selection -n --line-number --no-line-number -b --byte-offset -H --with-filename
                -h --no-filename -c --count -l --files-with-matches -L --files-without-match -m --max-count
                -v --invert-match -w --word-regexp -x --line-regexp -o --only-matching -A --after-context
                -B --before-context -C --context -f --file -Z --null -z --null-data --line-buffered --label --json
                -T --initial-tab --group-separator --no-group-separator -j --threads"
            ;;
        replace)
            options+=" $selection -f --format --conditional-format --backup --dry-run --diff -H --with-filename
                -h --no-filename"
            ;;
        merge)
            options+=" -f --format --copy --line-buffered"
            ;;
        *)
            options+=" -n --line-number --no-line-number -b --byte-offset --format"
            [[ $sub == grep-text ]] && options+=" -c --count -m --max-count"
            ;;
        esac
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    case $sub in
    grep | replace) COMPREPLY=($(compgen -f -- "$cur")) ;;
    esac
}
complete -o filenames -o bashdefault -F _quorvex quorvex
