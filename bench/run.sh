#!/usr/bin/env bash
# Runs every benchmark executable of a build: bench/run.sh BUILD_DIR [benchmark flags...]
set -euo pipefail
build=${1:?usage: bench/run.sh BUILD_DIR [flags]}
shift
found=0
for exe in "$build"/bench/*_bench; do
    [ -x "$exe" ] || continue
    found=1
    echo "== $(basename "$exe")"
    "$exe" --benchmark_counters_tabular=true "$@"
done
[ "$found" -eq 1 ] || { echo "no benchmarks built in $build/bench" >&2; exit 1; }
