#!/usr/bin/env bash
# Times loomwatch-cli over a generated home of a long-used machine.
#   bench/cli_bench.sh BUILD_DIR [RUNS] [PER_TOOL] [LARGE]
# Generates the home once (10,000 transcripts per tool, the 50 newest at least 768 KiB by default) into a
# temporary folder, then times RUNS runs (default 15) of each of:
#   sessions --json, cache current    (after one warm-up run, which also fills the usage ledger);
#   sessions --json, no cache         (the usage ledger deleted before each run: a first count of the 100 large files);
#   usage --daily --json, no cache    (every transcript of the last 7 days counted afresh);
# and prints every run, the median wall time, the median CPU time (user + system; less sensitive to a busy machine)
# and the largest peak RSS.
set -euo pipefail

build=${1:?usage: bench/cli_bench.sh BUILD_DIR [RUNS] [PER_TOOL] [LARGE]}
runs=${2:-15}
perTool=${3:-10000}
large=${4:-50}
cli="$build/cli/loomwatch-cli"
generator="$build/bench/loomwatch-generate-home"
for exe in "$cli" "$generator"; do
    [ -x "$exe" ] || { echo "missing $exe (build loomwatch-cli and loomwatch-generate-home)" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package: time)" >&2; exit 1; }

work=$(mktemp -d /tmp/loomwatch-cli-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
home="$work/home"
mkdir -p "$home/.config" "$home/.local/share"
"$generator" "$home" --per-tool "$perTool" --large "$large"

# The CLI sees only the generated home: its settings, history, pricing copy and usage ledger go below it as well. The
# run environment is otherwise empty so that the figures do not depend on the caller's session (D-Bus, locale).
run() {
    env -i HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
        XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$work" PATH=/usr/bin:/bin LANG=C.UTF-8 TZ=UTC "$@"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# measure LABEL FRESH ARGS...: RUNS timed runs; with FRESH=1 the usage ledger is deleted before each.
measure() {
    local label=$1 fresh=$2
    shift 2
    echo "== $label: loomwatch-cli $*"
    : >"$work/times"
    for ((i = 1; i <= runs; i++)); do
        [ "$fresh" = 1 ] && rm -rf "$home/.cache/Loomwatch"
        run /usr/bin/time -f '%e %U %S %M' -o "$work/one" "$cli" "$@" >/dev/null
        read -r wall user system rss <"$work/one"
        printf 'run %2d: %s s wall, %s s user, %s s system, %s KiB\n' "$i" "$wall" "$user" "$system" "$rss"
        echo "$wall $(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }') $rss" >>"$work/times"
    done
    printf '%s: median wall %.3f s, median CPU %.3f s over %d runs; max peak RSS %d KiB (%.1f MiB)\n' "$label" \
        "$(cut -d' ' -f1 "$work/times" | median)" "$(cut -d' ' -f2 "$work/times" | median)" "$runs" \
        "$(cut -d' ' -f3 "$work/times" | sort -n | tail -1)" \
        "$(awk -v r="$(cut -d' ' -f3 "$work/times" | sort -n | tail -1)" 'BEGIN { print r / 1024 }')"
}

echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
run "$cli" sessions --json >"$work/out.json" # warm-up: creates the settings, history and ledger, fills the page cache
echo "sessions listed: $(grep -o '"id":' "$work/out.json" | wc -l)"
measure "cache current" 0 sessions --json
measure "no cache" 1 sessions --json
measure "usage, no cache" 1 usage --daily --json
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
