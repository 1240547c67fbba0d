#!/usr/bin/env bash
# End to end: `loomwatch-cli watch --notify` against the real dunst on a private session bus.
# A process named `claude` works in a project; an assistant line appended to its transcript must
# produce exactly one "Claude Code is waiting" notification, and a second identical append none.
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

export HOME=$work/home XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config
export XDG_RUNTIME_DIR=$work/runtime
project=$HOME/src/checkout-service
transcripts=$HOME/.claude/projects/$(printf '%s' "$project" | sed 's/[^A-Za-z0-9]/-/g')
mkdir -p -m 700 "$XDG_RUNTIME_DIR" && mkdir -p "$project" "$transcripts" "$work/bin"
session=3b0e6c1d-1f2a-4b3c-8d4e-5f6a7b8c9d0e
transcript=$transcripts/$session.jsonl
now() { date -u +%Y-%m-%dT%H:%M:%S.000Z; }
line() { # role
    printf '{"type":"%s","sessionId":"%s","cwd":"%s","gitBranch":"main","timestamp":"%s","message":{"role":"%s","content":[{"type":"text","text":"step"}]}}\n' \
        "$1" "$session" "$project" "$(now)" "$1"
}
line user > "$transcript"

# The agent: a copy of sleep called `claude`, working in the project.
cp /bin/sleep "$work/bin/claude"
(cd "$project" && exec "$work/bin/claude" 600) &
pids+=($!)

# dunst logs every notification through a rule script.
cat > "$work/log.sh" <<LOG
#!/bin/sh
printf '%s|%s|%s\n' "\$1" "\$2" "\$3" >> "$work/notifications.log"
LOG
chmod +x "$work/log.sh"
cat > "$work/dunstrc" <<CONF
[log-everything]
    summary = "*"
    script = $work/log.sh
CONF
touch "$work/notifications.log"
dunst -config "$work/dunstrc" >"$work/dunst.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Notifications | grep -q 'boolean true' && break
    sleep 0.1
done

"$CLI" watch --json --notify > "$work/watch.out" 2> "$work/watch.err" &
watch_pid=$!
pids+=($watch_pid)

wait_for() { # file pattern seconds
    for _ in $(seq $(( $3 * 10 ))); do grep -q "$2" "$1" && return 0; sleep 0.1; done
    return 1
}
wait_for "$work/watch.out" '"event":"appeared"' 20 || fail "the session never appeared"
grep -q '"state":"working"' "$work/watch.out" || fail "the session should start out working"
sleep 1 # the watcher is armed once the first refresh has been applied

line assistant >> "$transcript"
wait_for "$work/watch.out" '"state":"waitingForInput"' 10 || fail "the append was not picked up"
wait_for "$work/notifications.log" 'Claude Code is waiting' 10 || fail "no notification was shown"
sleep 1
line assistant >> "$transcript"
sleep 3
count=$(grep -c 'Claude Code is waiting' "$work/notifications.log" || true)
[ "$count" -eq 1 ] || fail "expected one notification, saw $count"
grep -q '|Claude Code is waiting|checkout-service is waiting for your input.$' "$work/notifications.log" ||
    fail "wrong notification text"

kill -TERM "$watch_pid"
for _ in $(seq 50); do kill -0 "$watch_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$watch_pid" 2>/dev/null && fail "watch did not end on SIGTERM"
wait "$watch_pid" || fail "watch exited with status $?"
[ ! -s "$work/watch.err" ] || fail "watch wrote to stderr: $(cat "$work/watch.err")"
echo "notification end-to-end test passed"
