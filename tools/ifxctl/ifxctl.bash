# bash completion for ifxctl: subcommands, their options, file names where a file is
# expected, the utility's own command line after "run ... --", and the parameter names of
# an ONCONFIG file. Plain complete -F and compgen: no bash-completion package needed.

# The parameter names of an ONCONFIG file: the first word of each line that is not a
# comment.
_ifxctl_onconfig_names() {
    [ -r "$1" ] || return
    sed -n 's/^[[:space:]]*\([A-Za-z_][A-Za-z0-9_]*\).*/\1/p' "$1" 2>/dev/null
}

_ifxctl() {
    local current="${COMP_WORDS[COMP_CWORD]}"
    local previous="${COMP_WORDS[COMP_CWORD-1]}"
    local global="-v --verbose --log-file --log-level --help --version"
    local commands="run onconfig settings split ppid date"
    local command="" subcommand="" i word
    local utility=-1 # index of the utility's program name after "run ... --"
    local words=0    # words of the command after its options
    local onconfig_file=""
    for ((i = 1; i < COMP_CWORD; i++)); do
        word="${COMP_WORDS[i]}"
        case "$word" in
            --log-file | --log-level | --user | --env | --unset | --chdir | --send | --sub | --timeout | --kill-after | --signal)
                ((i++))
                ;;
            --)
                if [ "$command" = run ]; then
                    utility=$((i + 1))
                fi
                break
                ;;
            -*) ;;
            *)
                if [ -z "$command" ]; then
                    command="$word"
                elif [ "$command" = settings ] && [ -z "$subcommand" ]; then
                    subcommand="$word"
                else
                    ((words++))
                    if [ "$command" = onconfig ] && [ -z "$onconfig_file" ]; then
                        onconfig_file="$word"
                    fi
                fi
                ;;
        esac
    done

    # The utility's command line: its name as a command or a path, then files.
    if ((utility >= 0)); then
        if ((COMP_CWORD == utility)); then
            COMPREPLY=($(compgen -c -- "$current" | sort -u; compgen -f -- "$current"))
        else
            COMPREPLY=($(compgen -f -- "$current"))
        fi
        return
    fi

    case "$previous" in
        --log-file)
            COMPREPLY=($(compgen -f -- "$current"))
            return
            ;;
        --user)
            COMPREPLY=($(compgen -u -- "$current"))
            return
            ;;
        --chdir)
            COMPREPLY=($(compgen -d -- "$current"))
            return
            ;;
        --unset)
            COMPREPLY=($(compgen -v -- "$current"))
            return
            ;;
        --signal)
            COMPREPLY=($(compgen -W "HUP INT QUIT USR1 USR2 TERM KILL ALRM" -- "$current"))
            return
            ;;
        --log-level | --env | --send | --sub | --timeout | --kill-after)
            COMPREPLY=()
            return
            ;;
    esac

    case "$command" in
        "")
            COMPREPLY=($(compgen -W "$commands $global" -- "$current"))
            ;;
        run)
            if [[ "$current" == -* ]]; then
                COMPREPLY=($(compgen -W "--user --preserve-environment --ignore-environment --env --unset --chdir --send --commands --direct --nonblocking --timeout --signal --kill-after --preserve-status --foreground --help --" -- "$current"))
            elif ((words == 0)); then
                COMPREPLY=($(compgen -c -- "$current" | sort -u; compgen -f -- "$current"))
            else
                COMPREPLY=($(compgen -f -- "$current"))
            fi
            ;;
        onconfig)
            if [ -n "$onconfig_file" ]; then
                COMPREPLY=($(compgen -W "$(_ifxctl_onconfig_names "$onconfig_file")" -- "$current"))
            else
                COMPREPLY=($(compgen -f -- "$current"))
            fi
            ;;
        settings)
            if [ -z "$subcommand" ]; then
                COMPREPLY=($(compgen -W "get list identity --help" -- "$current"))
            fi
            ;;
        split)
            COMPREPLY=($(compgen -W "--sub --help" -- "$current"))
            ;;
        *)
            COMPREPLY=($(compgen -W "--help" -- "$current"))
            ;;
    esac
}

complete -F _ifxctl ifxctl
