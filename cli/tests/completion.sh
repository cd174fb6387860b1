#!/usr/bin/env bash
# velto-cli's bash completion and manual against the program itself: the completion offers
# exactly the subcommands and long options that velto-cli's help lists, and the manual names
# each of them; the settings' names and values and folder arguments complete as they should.
# Usage: completion.sh PATH-TO-velto-cli
set -euo pipefail
cli=$(realpath "$1")
data=$(cd "$(dirname "$0")/../data" && pwd)
status=0
fail() {
    echo "FAIL: $*" >&2
    status=1
}

completions=/usr/share/bash-completion/bash_completion
[ -r "$completions" ] || { echo "bash-completion is not installed; skipped"; exit 77; }
# shellcheck disable=SC1090,SC1091
source "$completions"
# shellcheck source=cli/data/velto-cli.bash disable=SC1091
source "$data/velto-cli.bash"

# What the completion offers for a command line (the cursor at its end), sorted, one a line.
complete_line() {
    local COMP_LINE=$1 COMP_POINT=${#1} COMP_WORDS COMP_CWORD COMPREPLY=()
    read -r -a COMP_WORDS <<<"$1"
    [[ $1 == *' ' ]] && COMP_WORDS+=('')
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _velto_cli velto-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort
}
expect() { # command line, then the words it must complete to
    local actual expected
    actual=$(complete_line "$1")
    expected=$(printf '%s\n' "${@:2}" | sort)
    [ "$actual" = "$expected" ] ||
        fail "'$1' completes to [$(tr '\n' ' ' <<<"$actual")], expected [$(tr '\n' ' ' <<<"$expected")]"
}
# The subcommands and the long options that "velto-cli WORDS... --help" lists.
subcommands_of() { "$cli" "$@" --help | sed -n '/^Subcommands:/,$p' | awk 'NR > 1 && NF { print $1 }'; }
options_of() { "$cli" "$@" --help | sed -n '/^Options:/,/^$/p' | grep -oE -- '--[a-z-]+' | sort -u; }

manual=$(sed 's/\\-/-/g' "$data/velto-cli.1")
mapfile -t commands < <(subcommands_of)
mapfile -t options < <(options_of)
[ ${#commands[@]} -gt 0 ] || fail "velto-cli --help lists no subcommands"
expect "velto-cli " "${commands[@]}" "${options[@]}" -h -v
for command in "${commands[@]}"; do
    grep -qE "^(\\\\fB|\.B |\.BR )?$command\b|fB$command\\\\fR" <<<"$manual" ||
        fail "the manual does not describe $command"
    mapfile -t options < <(options_of "$command")
    for option in "${options[@]}"; do
        grep -q -- "$option" <<<"$manual" || fail "the manual does not name $command $option"
    done
    if [ "$command" = config ]; then
        mapfile -t actions < <(subcommands_of config)
        expect "velto-cli -v config " "${actions[@]}" "${options[@]}"
    else
        expect "velto-cli $command --" "${options[@]}"
    fi
done

expect "velto-cli config set " receive-mode receive-folder visible
expect "velto-cli config set receive-mode a" ask
expect "velto-cli config set visible " yes no
expect "velto-cli config get added" added-addresses
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/Inbox" && touch "$work/Invoice.pdf"
cd "$work"
expect "velto-cli receive --dir I" Inbox
expect "velto-cli send 10.0.0.2 I" Inbox Invoice.pdf
[ "$status" -eq 0 ] && echo "completion and manual: all held"
exit "$status"
