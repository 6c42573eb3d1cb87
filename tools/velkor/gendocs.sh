#!/usr/bin/env bash
# gendocs.sh VELKOR OUTDIR VERSION -- the manual pages (help2man, one per
# command: velkor.1, velkor-build.1, ...) and the bash completion
# (OUTDIR/completion/velkor), both made from velkor's own --help texts so
# that they cannot drift from the program.
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 VELKOR OUTDIR VERSION" >&2; exit 2; }
velkor=$1 out=$2 version=$3
command -v help2man >/dev/null || { echo "$0: help2man is not installed (scripts/deps.sh installs it)" >&2; exit 3; }
rm -rf "$out/man1" "$out/completion" "$out/wrappers"
mkdir -p "$out/man1" "$out/completion" "$out/wrappers"

# The commands and their one-line descriptions, from the top-level help.
commands=()
declare -A summary
while IFS= read -r line; do
    if [[ $line =~ ^\ \ ([a-z][a-z-]*)\ +(.*)$ ]]; then
        commands+=("${BASH_REMATCH[1]}")
        summary[${BASH_REMATCH[1]}]=${BASH_REMATCH[2]%.}
    fi
done < <("$velkor" --help | sed -n '/^Subcommands:/,/^$/p')
[ ${#commands[@]} -gt 0 ] || { echo "$0: no commands found in velkor --help" >&2; exit 1; }

see_also="velkor(1)"
for c in "${commands[@]}"; do see_also+=", velkor-$c(1)"; done
include=$out/wrappers/see-also.h2m
printf '[SEE ALSO]\n%s\n\nThe manifest format and every check: /usr/share/doc/velkor/README.md\n' "$see_also" >"$include"

help2man -N --no-discard-stderr --version-string="$version" -n "the Velkor setup package authoring tool" \
    -i "$include" -o "$out/man1/velkor.1" "$velkor"
for c in "${commands[@]}"; do
    # help2man names the page after the program it runs.
    w=$out/wrappers/velkor-$c
    printf '#!/bin/sh\nexec "%s" %s "$@"\n' "$velkor" "$c" >"$w"
    chmod +x "$w"
    help2man -N --no-discard-stderr --version-string="$version" -n "${summary[$c]}" \
        -i "$include" -o "$out/man1/velkor-$c.1" "$w"
done

# The completion: commands first, then each command's options; file names
# for everything else.
{
    echo "# bash completion for velkor $version, generated from velkor --help"
    echo "_velkor()"
    echo "{"
    echo '    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} cmd="" i opts'
    echo '    for ((i = 1; i < COMP_CWORD; i++)); do'
    echo '        case ${COMP_WORDS[i]} in -*) ;; *) cmd=${COMP_WORDS[i]}; break ;; esac'
    echo '    done'
    echo '    case $prev in'
    echo '        --location) COMPREPLY=($(compgen -W "default folder" -- "$cur")); return ;;'
    echo '        -o|--output|--state|--win-bin) COMPREPLY=($(compgen -f -- "$cur")); return ;;'
    echo '        -j|--jobs|--timeout) COMPREPLY=(); return ;;'
    echo '    esac'
    echo '    case $cmd in'
    echo "        \"\") opts=\"--help --version ${commands[*]}\" ;;"
    for c in "${commands[@]}"; do
        opts=$("$velkor" "$c" --help | sed -n '/^Options:/,/^$/p' |
               grep -oE '^ +-[-a-zA-Z0-9,]+' | tr ',' '\n' | tr -d ' ' | grep -E '^-' | tr '\n' ' ')
        echo "        $c) opts=\"${opts% }\" ;;"
    done
    echo '    esac'
    echo '    if [[ -z $cmd || $cur == -* ]]; then'
    echo '        COMPREPLY=($(compgen -W "$opts" -- "$cur"))'
    echo '    else'
    echo '        COMPREPLY=($(compgen -f -- "$cur"))'
    echo '    fi'
    echo "}"
    echo "complete -o filenames -F _velkor velkor"
} >"$out/completion/velkor"
bash -n "$out/completion/velkor"
