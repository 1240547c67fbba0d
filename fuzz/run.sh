#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, ASan and UBSan, then runs each for SECONDS.
# Seeds come from fuzz/corpus/<target>/ (read only); new inputs go to build-fuzz/corpus/<target>/.
# A crash, a sanitizer report or an input slower than 1 s stops that target and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
SECONDS_PER_TARGET=${1:-60}
BUILD=$ROOT/build-fuzz
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# clang does not know GCC's -Wshadow=local; the flag below keeps it from warning about that in every file.
CC=clang-14 CXX=clang++-14 cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLOOMWATCH_BUILD_FUZZERS=ON -DLOOMWATCH_BUILD_TESTS=OFF -DLOOMWATCH_BUILD_BENCH=OFF -DLOOMWATCH_BUILD_UI=OFF \
    -DLOOMWATCH_SANITIZE=address,undefined -DCMAKE_CXX_FLAGS=-Wno-unknown-warning-option >/dev/null
# fuzz/targets.txt: one "name max_len" per line; max_len is the largest input libFuzzer makes for it.
mapfile -t TARGETS < <(grep -Ev '^[[:space:]]*(#|$)' "$ROOT/fuzz/targets.txt")
cmake --build "$BUILD" -j "${LOOMWATCH_JOBS:-2}" --target $(printf '%s\n' "${TARGETS[@]}" | cut -d' ' -f1)

status=0
for entry in "${TARGETS[@]}"; do
    read -r target max_len <<<"$entry"
    corpus=$BUILD/corpus/$target
    artifacts=$BUILD/artifacts/$target/
    mkdir -p "$corpus" "$artifacts"
    echo "==> $target for ${SECONDS_PER_TARGET}s" >&2
    if ! "$BUILD/fuzz/$target" -max_total_time="$SECONDS_PER_TARGET" -timeout=1 -rss_limit_mb=2048 \
        -max_len="$max_len" -print_final_stats=1 -artifact_prefix="$artifacts" \
        "$corpus" "$ROOT/fuzz/corpus/$target" 2> "$BUILD/$target.log"; then
        echo "!! $target found a problem; see $BUILD/$target.log and $artifacts" >&2
        tail -n 40 "$BUILD/$target.log" >&2
        status=1
    else
        grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$BUILD/$target.log" >&2 || true
    fi
done
exit $status
