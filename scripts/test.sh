#!/usr/bin/env bash
# Builds Velto and runs the whole test suite inside a private network namespace, so that no
# datagram of a test ever reaches the machine's real network.
#
#   scripts/test.sh            the normal build (warnings are errors)
#   scripts/test.sh asan       AddressSanitizer + UndefinedBehaviorSanitizer build
#   scripts/test.sh tsan       ThreadSanitizer build
#   scripts/test.sh all        all three, one after the other
set -euo pipefail
cd "$(dirname "$0")/.."

presets=("${1:-ci}")
[ "${presets[0]}" = all ] && presets=(ci asan tsan)

bash scripts/setup.sh

for preset in "${presets[@]}"; do
    echo "=== build: $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done

for preset in "${presets[@]}"; do
    echo "=== tests: $preset"
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
    unshare --net --fork -- bash -c "ip link set lo up && \
        ctest --test-dir build/$preset --output-on-failure --timeout 600 -j2 \
              ${VELTO_CTEST_ARGS:-}"
done
