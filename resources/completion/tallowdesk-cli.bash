# bash completion for tallowdesk-cli                       -*- shell-script -*-
# Completes the commands and their options; local files for "put" and folders
# for "--to" of get and export. Remote paths are not completed: that would
# sign in on every Tab.

_tallowdesk_cli() {
    local cur prev words cword
    _init_completion || return

    local commands="login logout ls search mkdir rename star unstar trash get export put acl share unshare quota help"

    if ((cword == 1)); then
        mapfile -t COMPREPLY < <(compgen -W "$commands --help --version" -- "$cur")
        return
    fi

    local command=${words[1]}
    case $prev in
        --to)
            case $command in
                get | export) _filedir -d ;;
            esac
            return
            ;;
        --role)
            mapfile -t COMPREPLY < <(compgen -W "reader writer" -- "$cur")
            return
            ;;
    esac

    local options="--help"
    case $command in
        login) options+=" --remember" ;;
        ls | search | acl | quota) options+=" --json" ;;
        trash) options+=" --permanently" ;;
        get | export) options+=" --to --quiet --json" ;;
        put) options+=" --to --convert --quiet --json" ;;
        share) options+=" --role" ;;
    esac

    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        return
    fi
    case $command in
        put) _filedir ;;
        export)
            # The second argument is the format.
            local args=0 i
            for ((i = 2; i < cword; i++)); do
                [[ ${words[i]} == -* ]] || ((args++))
            done
            ((args == 1)) && mapfile -t COMPREPLY < <(compgen -W "csv doc html jpeg ods odt pdf png ppt rtf svg swf tsv txt xls zip" -- "$cur")
            ;;
    esac
} && complete -F _tallowdesk_cli tallowdesk-cli
