# bash completion for loomwatch-cli: commands, options, option values and the ids of the sessions
# (from `loomwatch-cli ids`, a refresh that writes no history).
_loomwatch_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local commands="sessions status costs diagnostics handoff terminate watch usage help"
    if [ "$COMP_CWORD" -eq 1 ]; then
        mapfile -t COMPREPLY < <(compgen -W "$commands --help --version" -- "$cur")
        return
    fi
    local command=${COMP_WORDS[1]} options="--help"
    case $prev in
        --tool)
            local tools="claude codex openCode cursor"
            [ "$command" = usage ] && tools="claude codex"
            mapfile -t COMPREPLY < <(compgen -W "$tools" -- "$cur")
            return
            ;;
        --state)
            mapfile -t COMPREPLY < <(compgen -W "working waitingForInput idle ended errored limited" -- "$cur")
            return
            ;;
        --project | --since | --until) return ;;
    esac
    case $command in
        sessions) options="--json --tool --state --project --active --help" ;;
        status | costs | diagnostics) options="--json --help" ;;
        terminate) options="--yes --help" ;;
        watch) options="--json --notify --help" ;;
        usage) options="--daily --session --since --until --tool --utc --json --help" ;;
        help)
            [ "$COMP_CWORD" -eq 2 ] && mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
            return
            ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        return
    fi
    case $command in
        handoff | terminate)
            local word
            for word in "${COMP_WORDS[@]:2:COMP_CWORD-2}"; do
                [[ $word == -* ]] || return # the session is already named
            done
            mapfile -t COMPREPLY < <(compgen -W "$(loomwatch-cli ids 2>/dev/null | cut -f1)" -- "$cur")
            ;;
    esac
}
complete -F _loomwatch_cli loomwatch-cli
