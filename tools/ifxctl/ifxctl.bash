# bash completion for ifxctl: subcommands, their options, and file names where a file or
# a program is expected. Plain complete -F and compgen: no bash-completion package needed.

_ifxctl() {
    local current="${COMP_WORDS[COMP_CWORD]}"
    local previous="${COMP_WORDS[COMP_CWORD-1]}"
    local global="-v --verbose --log-file --log-level --help --version"
    local commands="run onconfig settings split ppid date"
    local command="" subcommand="" i word
    for ((i = 1; i < COMP_CWORD; i++)); do
        word="${COMP_WORDS[i]}"
        case "$word" in
            --log-file | --log-level) ((i++)) ;;
            --) break ;;
            -*) ;;
            *)
                if [ -z "$command" ]; then
                    command="$word"
                elif [ "$command" = settings ] && [ -z "$subcommand" ]; then
                    subcommand="$word"
                fi
                ;;
        esac
    done

    case "$previous" in
        --log-file)
            COMPREPLY=($(compgen -f -- "$current"))
            return
            ;;
        --user)
            COMPREPLY=($(compgen -u -- "$current"))
            return
            ;;
        --log-level | --env | --send | --sub)
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
                COMPREPLY=($(compgen -W "--user --env --send --commands --direct --nonblocking --help --" -- "$current"))
            else
                COMPREPLY=($(compgen -f -- "$current"))
            fi
            ;;
        onconfig)
            COMPREPLY=($(compgen -f -- "$current"))
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
