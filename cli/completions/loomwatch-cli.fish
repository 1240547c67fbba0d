# fish completion for loomwatch-cli: commands, options, option values and the ids of the sessions
# (from `loomwatch-cli ids`, a refresh that writes no history).
set -l commands sessions status costs diagnostics handoff terminate watch usage help
set -l none "not __fish_seen_subcommand_from $commands"

complete -c loomwatch-cli -f
complete -c loomwatch-cli -n $none -a sessions -d 'Refresh every provider and list the sessions'
complete -c loomwatch-cli -n $none -a status -d "One line: waiting, working, today's spend"
complete -c loomwatch-cli -n $none -a costs -d "Today's estimated spend, in total and per tool"
complete -c loomwatch-cli -n $none -a diagnostics -d 'What Loomwatch can see, and what it keeps'
complete -c loomwatch-cli -n $none -a handoff -d 'Print a continuation handoff for one session'
complete -c loomwatch-cli -n $none -a terminate -d "Send SIGTERM to a session's agent process"
complete -c loomwatch-cli -n $none -a watch -d 'Keep running and report sessions as they change'
complete -c loomwatch-cli -n $none -a usage -d 'Tokens and estimated cost per day or session'
complete -c loomwatch-cli -n $none -a help -d "Show the help, or one command's"
complete -c loomwatch-cli -n $none -l version -d 'Show the version'
complete -c loomwatch-cli -s h -l help -d 'Show the help'

complete -c loomwatch-cli -n '__fish_seen_subcommand_from sessions status costs diagnostics watch usage' -l json -d 'Print JSON'
complete -c loomwatch-cli -n '__fish_seen_subcommand_from sessions' -l tool -x -a 'claude codex openCode cursor' \
    -d 'Only the sessions of this tool'
complete -c loomwatch-cli -n '__fish_seen_subcommand_from sessions' -l state -x \
    -a 'working waitingForInput idle ended errored limited' -d 'Only the sessions in this state'
complete -c loomwatch-cli -n '__fish_seen_subcommand_from sessions' -l project -x \
    -d 'Only the sessions whose project name contains TEXT'
complete -c loomwatch-cli -n '__fish_seen_subcommand_from sessions' -l active -d 'Only the active sessions'
complete -c loomwatch-cli -n '__fish_seen_subcommand_from terminate' -l yes -d 'Do not ask for confirmation'
complete -c loomwatch-cli -n '__fish_seen_subcommand_from watch' -l notify -d 'Also post desktop notifications'
complete -c loomwatch-cli -n '__fish_seen_subcommand_from usage' -l daily -d 'One row per day, tool and model'
complete -c loomwatch-cli -n '__fish_seen_subcommand_from usage' -l session -d 'One row per session and model'
complete -c loomwatch-cli -n '__fish_seen_subcommand_from usage' -l since -x -d 'From this day on (YYYY-MM-DD)'
complete -c loomwatch-cli -n '__fish_seen_subcommand_from usage' -l until -x -d 'Up to this day (YYYY-MM-DD)'
complete -c loomwatch-cli -n '__fish_seen_subcommand_from usage' -l tool -x -a 'claude codex' -d 'Only this tool'
complete -c loomwatch-cli -n '__fish_seen_subcommand_from usage' -l utc -d 'Days in UTC'
complete -c loomwatch-cli -n '__fish_seen_subcommand_from handoff terminate' -a '(loomwatch-cli ids 2>/dev/null)'
complete -c loomwatch-cli -n '__fish_seen_subcommand_from help' -a "$commands"
