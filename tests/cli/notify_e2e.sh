#!/usr/bin/env bash
# End to end: `loomwatch-cli watch --notify` against the real dunst on a private session bus.
# A process named `claude` works in a project; an assistant line appended to its transcript must
# produce a "Claude Code is waiting" notification. (That a second answer adds none is the
# notification service's to test.)
# Usage: notify_e2e.sh LOOMWATCH-CLI   (runs itself again inside xvfb-run + dbus-run-session)
set -euo pipefail
CLI=$(readlink -f "$1")

if [ -z "${LOOMWATCH_E2E_INNER:-}" ]; then
    for tool in xvfb-run dbus-run-session dunst dbus-send; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
    done
    export LOOMWATCH_E2E_INNER=1
    exec xvfb-run -a -s "-screen 0 800x600x24" dbus-run-session -- "$0" "$@"
fi

work=$(mktemp -d /tmp/loomwatch-notify-XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; cat "$work/watch.out" "$work/notifications.log" >&2 || true; exit 1; }
wait_for() { # SECONDS COMMAND...: polls until the command succeeds
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do [ $SECONDS -lt $deadline ] || return 1; sleep 0.05; done
}

export HOME=$work/home XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p -m 700 "$XDG_RUNTIME_DIR" && mkdir -p "$work/bin" && cp /bin/sleep "$work/bin/claude"

# A transcript, and its agent at work in the project.
project=$HOME/src/checkout-service session=3b0e6c1d-1f2a-4b3c-8d4e-5f6a7b8c9d0e
transcript=$HOME/.claude/projects/$(printf '%s' "$project" | sed 's/[^A-Za-z0-9]/-/g')/$session.jsonl
mkdir -p "$project" "$(dirname "$transcript")"
append() { # ROLE
    printf '{"type":"%s","sessionId":"%s","cwd":"%s","gitBranch":"main","timestamp":"%s","message":{"role":"%s","content":[{"type":"text","text":"step"}]}}\n' \
        "$1" "$session" "$project" "$(date -u +%Y-%m-%dT%H:%M:%S.000Z)" "$1" >> "$transcript"
}
append user
(cd "$project" && exec "$work/bin/claude" 600) &
pids+=($!)

# dunst logs every notification through a rule script.
printf '#!/bin/sh\nprintf "%%s|%%s|%%s\\n" "$1" "$2" "$3" >> %s\n' "$work/notifications.log" > "$work/log.sh"
chmod +x "$work/log.sh" && touch "$work/notifications.log"
printf '[log-everything]\n    summary = "*"\n    script = %s\n' "$work/log.sh" > "$work/dunstrc"
dunst -config "$work/dunstrc" >"$work/dunst.log" 2>&1 &
pids+=($!)
has_server() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Notifications | grep -q 'boolean true'
}
wait_for 10 has_server || fail "dunst did not become the notification server"

"$CLI" watch --json --notify > "$work/watch.out" 2> "$work/watch.err" &
watch_pid=$!
pids+=($watch_pid)

in_state() { grep -q "\"id\":\"claude:$session\".*\"state\":\"$1\"" "$work/watch.out"; }
notified() { grep -q "|Claude Code is waiting|checkout-service is waiting for your input.$" "$work/notifications.log"; }
# The folders are watched from the start: an append after the first listing is always seen.
wait_for 20 in_state working || fail "the session never appeared working"
append assistant
wait_for 10 in_state waitingForInput || fail "the append was not picked up"
wait_for 10 notified || fail "no notification was shown"

kill -TERM "$watch_pid"
ended() { ! kill -0 "$watch_pid" 2>/dev/null; }
wait_for 5 ended || fail "watch did not end on SIGTERM"
wait "$watch_pid" || fail "watch exited with status $?"
[ ! -s "$work/watch.err" ] || fail "watch wrote to stderr: $(cat "$work/watch.err")"
echo "notification end-to-end test passed"
