#!/usr/bin/env bash
# CPU time the desktop app spends in 60 s of idleness with the dashboard open, under Xvfb.
#   bench/ui_idle.sh <build dir> [seconds]
set -euo pipefail
BUILD_DIR=${1:?build dir}
SECONDS_IDLE=${2:-60}
HOME_DIR=$(mktemp -d)
trap 'rm -rf "$HOME_DIR"' EXIT
mkdir -m 0700 "$HOME_DIR/runtime"
export HOME=$HOME_DIR XDG_CONFIG_HOME=$HOME_DIR/.config XDG_DATA_HOME=$HOME_DIR/.local/share XDG_RUNTIME_DIR=$HOME_DIR/runtime

xvfb-run -a -s "-screen 0 1280x800x24" env QT_QPA_PLATFORM=xcb bash -c '
    "$0" --demo & pid=$!
    sleep 5
    ticks() { awk "{print \$14 + \$15}" /proc/$pid/stat; }
    start=$(ticks)
    sleep "$1"
    end=$(ticks)
    kill $pid
    wait $pid 2>/dev/null || true
    hz=$(getconf CLK_TCK)
    echo "idle CPU over $1 s: $(awk -v a=$start -v b=$end -v hz=$hz "BEGIN {printf \"%.3f\", (b - a) / hz}") s"
' "$BUILD_DIR/ui/loomwatch" "$SECONDS_IDLE"
