#!/usr/bin/env bash
# The unit and integration tests again under AddressSanitizer + UndefinedBehaviorSanitizer (leaks
# included), then the store and watcher tests under ThreadSanitizer. Called by ./dev test.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=${1:-2}
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$ROOT/.ci/lsan.supp:print_suppressions=0
export TSAN_OPTIONS=suppressions=$ROOT/.ci/tsan.supp:halt_on_error=1:second_deadlock_stack=1

configure() { # dir sanitizers
    cmake -S "$ROOT" -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOOMWATCH_WERROR=OFF \
        -DLOOMWATCH_BUILD_UI=OFF -DLOOMWATCH_BUILD_BENCH=OFF -DLOOMWATCH_SANITIZE="$2" >/dev/null
}

echo "==> AddressSanitizer + UndefinedBehaviorSanitizer" >&2
configure "$ROOT/build-asan" address,undefined
cmake --build "$ROOT/build-asan" -j "$JOBS"
ctest --test-dir "$ROOT/build-asan" --output-on-failure -j "$JOBS" -LE 'no-asan'

echo "==> ThreadSanitizer (store and watcher)" >&2
TSAN_TESTS=(core_test fseventwatcher_test filesessionprovider_test usageledger_test)
configure "$ROOT/build-tsan" thread
cmake --build "$ROOT/build-tsan" -j "$JOBS" --target "${TSAN_TESTS[@]}"
ctest --test-dir "$ROOT/build-tsan" --output-on-failure -j "$JOBS" -R "^($(IFS='|'; echo "${TSAN_TESTS[*]}"))\$"
