# bash completion for velto-cli: its subcommands, their options and the settings' names and values.
_velto_cli() {
    local cur prev words cword
    _init_completion || return

    # The subcommand (and config's get or set) is the first word that is not an option.
    local command='' action='' i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            -*) ;;
            *)
                if [[ -z $command ]]; then
                    command=${words[i]}
                elif [[ $command == config && -z $action ]]; then
                    action=${words[i]}
                    break
                fi
                ;;
        esac
    done

    case $prev in
        --wait) return ;;
        --dir)
            _filedir -d
            return
            ;;
        --text) return ;;
    esac

    local options
    case $command in
        '')
            mapfile -t COMPREPLY < <(compgen -W 'block config hello peers receive send trust
                unblock untrust -v --verbose -h --help' -- "$cur")
            return
            ;;
        peers) options='--wait --json --help' ;;
        hello) options='--forget --wait --help' ;;
        send) options='--text --wait --help' ;;
        receive) options='--json --dir --help' ;;
        config)
            case $action in
                '') options='get set --help' ;;
                get) options='receive-mode receive-folder visible trusted blocked added-addresses' ;;
                set)
                    case $prev in
                        set) options='receive-mode receive-folder visible' ;;
                        receive-mode) options='everyone ask trusted off everyone-timed' ;;
                        visible) options='yes no' ;;
                        receive-folder)
                            _filedir -d
                            return
                            ;;
                    esac
                    ;;
            esac
            ;;
        *) options='--help' ;;
    esac
    if [[ $command == send && $cur != -* ]]; then
        _filedir
        return
    fi
    [[ -n $options ]] && mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
}
complete -F _velto_cli velto-cli
