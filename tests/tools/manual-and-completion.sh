#!/usr/bin/env bash
# The manual page renders without warnings, and it and the bash completion know every
# subcommand and option that ifxctl's own help lists.
#
#   manual-and-completion.sh IFXCTL PAGE COMPLETION
set -euo pipefail
ifxctl="$1"
page="$2"
completion="$3"

fail() {
    echo "manual-and-completion: $*" >&2
    exit 1
}

command -v man >/dev/null || { echo "man is not installed"; exit 77; }
warnings="$(groff -man -ww -z "$page" 2>&1)"
[ -z "$warnings" ] || fail "groff warns: $warnings"
manual="$(LC_ALL=C MANWIDTH=200 man --nh --nj -l "$page" 2>&1)"
grep -q '^NAME' <<<"$manual" || fail "man -l does not render $page: $manual"

# shellcheck source=/dev/null
source "$completion"
# The words offered after the given command line, sorted, on one line.
offered() {
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _ifxctl
    printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
}

[ "$(offered ifxctl '' | tr ' ' '\n' | grep -v '^-' | tr '\n' ' ')" = \
    "date onconfig ppid run settings split " ] || fail "subcommands offered: $(offered ifxctl '')"
[ "$(offered ifxctl --log-level 2 settings '')" = "--help get identity list " ] ||
    fail "settings offers: $(offered ifxctl --log-level 2 settings '')"
[ "$(offered ifxctl ru)" = "run " ] || fail "'ru' completes to: $(offered ifxctl ru)"
# After "run ... --" the words are the utility's: no option of ifxctl's.
[ -z "$(offered ifxctl run --user root -- /bin/true -- | grep -e '--user' || true)" ] ||
    fail "the utility's arguments are offered ifxctl's options"
offered ifxctl run -- bas | grep -q 'bash ' || fail "'run -- bas' does not offer the command bash"
# The parameter names of the ONCONFIG file named.
onconfig="$(mktemp)"
trap 'rm -f "$onconfig"' EXIT
printf '# TAPEDEV commented\nTAPEDEV /dev/tape\nLTAPEDEV /dev/null\nDBSERVERNAME srv\n' >"$onconfig"
[ "$(offered ifxctl onconfig "$onconfig" '')" = "DBSERVERNAME LTAPEDEV TAPEDEV " ] ||
    fail "onconfig FILE offers: $(offered ifxctl onconfig "$onconfig" '')"

# Options as the help lists them: "  -v,--verbose", "  --user NAME ...".
options_of() {
    # shellcheck disable=SC2086
    "$ifxctl" $1 --help | sed -n 's/^  \(-[a-z],\)\{0,1\}\(--[a-z-]*\).*/\2/p' | grep -v '^--help$' || true
}
for command in "" run onconfig settings "settings get" "settings list" "settings identity" split ppid date; do
    for option in $(options_of "$command"); do
        grep -q -- "$option" <<<"$manual" || fail "the manual page lacks $option ($command)"
        if [ -z "$command" ] || [ "$command" = run ] || [ "$command" = split ]; then
            # shellcheck disable=SC2086
            offered ifxctl $command -- | grep -q -- "$option " ||
                offered ifxctl $command --"${option#--}" | grep -q -- "$option " ||
                fail "the completion does not offer $option for '$command'"
        fi
    done
done
for command in run onconfig settings split ppid date; do
    grep -q "^  *$command" <<<"$manual" || fail "the manual page lacks the command $command"
done
echo "manual page and completion cover every subcommand and option"
