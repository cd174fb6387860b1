#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz": clang with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a fixed time inside a private network
# namespace, starting from its corpus in fuzz/corpus/<target>/.
#
#   bash fuzz/run.sh              60 seconds per target (what CI runs)
#   bash fuzz/run.sh 600          ten minutes per target
#   bash fuzz/run.sh 0            only the committed corpus, once (regression inputs)
#   bash fuzz/run.sh 30 stream    some targets only
#
# New inputs found on the way go to build/fuzz/corpus/<target>/ (merge the interesting ones
# into fuzz/corpus/ by hand); an input that breaks a target is written to
# build/fuzz/findings/ and the script fails, naming it. A summary of executions, speed and
# memory per target closes the run. Two targets run at a time (VELTO_FUZZ_JOBS to change).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(datagram stream metadata unpack unhexlify)
[[ $seconds =~ ^[0-9]+$ ]] || { echo "usage: fuzz/run.sh [seconds] [target...]" >&2; exit 2; }

bash scripts/setup.sh >/dev/null
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2

work=$PWD/build/fuzz/corpus
findings=$PWD/build/fuzz/findings
scratch=build/fuzz/tmp
mkdir -p "$findings"
rm -rf "$scratch"
mkdir -p "$scratch"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# Runs one target; leaves its summary line in build/fuzz/<target>.summary and, when it broke,
# the log's last lines and the input's name in build/fuzz/<target>.finding.
fuzz_target() {
    local target=$1 binary=build/fuzz/fuzz/fuzz-$1 log=build/fuzz/$1.log status=0 options
    rm -f "build/fuzz/$target.finding"
    mkdir -p "$work/$target"
    if [ "$seconds" -eq 0 ]; then
        options=(-runs=0)
    else
        # -timeout: one input that takes longer is a hang; -rss_limit_mb: one that eats memory.
        options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536)
    fi
    # The targets open no sockets; the namespace makes sure of it. Paths are absolute: a
    # target may work in a folder of its own.
    TMPDIR=$PWD/$scratch unshare --net --fork -- "$binary" "${options[@]}" -print_final_stats=1 \
        -artifact_prefix="$findings/$target-" "$work/$target" "$PWD/fuzz/corpus/$target" \
        >"$log" 2>&1 || status=$?
    figure() { sed -n "s/^stat::$1: *//p" "$log"; }
    printf '%-10s %9s runs %7s/s %5s MB peak %4s committed inputs %5s in work corpus\n' \
        "$target" "$(figure number_of_executed_units)" "$(figure average_exec_per_sec)" \
        "$(figure peak_rss_mb)" "$(find "fuzz/corpus/$target" -type f | wc -l)" \
        "$(find "$work/$target" -type f | wc -l)" >"build/fuzz/$target.summary"
    if [ "$status" -ne 0 ]; then
        {
            tail -n 40 "$log"
            echo "$target: $(grep -o "Test unit written to .*" "$log" | head -n 1 || true) (log: $log)"
        } >"build/fuzz/$target.finding"
    fi
}

for target in "${targets[@]}"; do
    [ -x "build/fuzz/fuzz/fuzz-$target" ] || { echo "no fuzz target '$target'" >&2; exit 2; }
done
# Two targets at a time, one per core.
jobs=${VELTO_FUZZ_JOBS:-2}
running=0
for target in "${targets[@]}"; do
    if ((running >= jobs)); then
        wait -n || true
        running=$((running - 1))
    fi
    echo "=== fuzz $target (${seconds}s)"
    fuzz_target "$target" &
    running=$((running + 1))
done
wait || true
rm -rf "$scratch"

echo "=== fuzz summary (${seconds}s per target, $jobs at a time)"
found=0
for target in "${targets[@]}"; do
    cat "build/fuzz/$target.summary"
    [ ! -e "build/fuzz/$target.finding" ] || found=1
done
if ((found)); then
    echo "=== findings"
    cat build/fuzz/*.finding
    exit 1
fi
