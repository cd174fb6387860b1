#!/usr/bin/env bash
# Profiles one transfer on the test LAN with perf: both velto-cli processes are recorded, and
# the hottest symbols of each (with call chains in the saved data) are printed.
#
#   bash bench/profile.sh file|tree [--cli PATH]
#
# file: one 1 GiB file; tree: 10,000 files of 4 KiB in 100 folders (as in bench/run.sh). The
# perf data stays in build/bench/profile/{sender,receiver}.data for `perf report -i`.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
what=${1:-}
[[ $what == file || $what == tree ]] || { echo "usage: bench/profile.sh file|tree [--cli PATH]" >&2 && exit 2; }
cli=$root/build/bench/cli/velto-cli
[ "${2:-}" != --cli ] || cli=$(realpath "$3")

if [ -z "${VELTO_BENCH_INSIDE:-}" ]; then
    [ "$(id -u)" -eq 0 ] || { echo "bench/profile.sh needs root (network namespaces)" >&2 && exit 1; }
    cd "$root"
    cmake --preset bench >/dev/null
    cmake --build --preset bench
    exec unshare --net --mount --fork -- env VELTO_BENCH_INSIDE=1 bash "$0" "$what" --cli "$cli"
fi

cd "$root"
ip link set lo up
mount --make-rprivate /
out=$root/build/bench/profile
mkdir -p "$out"
work=$(mktemp -d /tmp/velto-profile.XXXXXX)
mount -t tmpfs -o size=4g tmpfs "$work"
export TMPDIR=$work
# shellcheck source=../tests/testlan/testlan.sh
source tests/testlan/testlan.sh
testlan_up 2
trap 'testlan_down; umount "$work"; rmdir "$work"' EXIT

mkdir -p "$work/src"
if [ "$what" = file ]; then
    head -c $((1024 * 1024 * 1024)) /dev/urandom >"$work/src/big.bin"
    # Read twice, its pages are active in the page cache as in the bench's later repetitions;
    # otherwise the sender's profile is dominated by their first activation.
    cat "$work/src/big.bin" "$work/src/big.bin" >/dev/null
    source_path=$work/src/big.bin
else
    python3 bench/lan/make_tree.py "$work/src/tree"
    source_path=$work/src/tree
fi

testlan_spawn h1 perf record -q --call-graph dwarf,8192 -F ${VELTO_PROFILE_HZ:-499} -o "$out/receiver.data" "$cli" receive --json \
    >"$work/events" 2>/dev/null
receiver=$TESTLAN_LAST_PID
for ((tries = 0; tries < 500; tries++)); do
    [ -z "$(testlan_exec h1 ss -Hltn 'sport = :4644')" ] && sleep 0.01 || break
done
testlan_exec h2 perf record -q --call-graph dwarf,8192 -F ${VELTO_PROFILE_HZ:-499} -o "$out/sender.data" "$cli" send "$(testlan_ip h1)" \
    "$source_path" >/dev/null
for ((tries = 0; tries < 3000; tries++)); do
    grep -q '"transfer-finished"' "$work/events" && break
    sleep 0.01
done
kill -INT "$(cat "/proc/$receiver/task/$receiver/children")"
wait "$receiver" || true

for side in sender receiver; do
    echo "=== $side: hottest symbols (self time)"
    perf report -i "$out/$side.data" --no-children --sort dso,symbol --stdio -g none \
        --percent-limit 1.5 2>/dev/null | grep '%' | head -25
done
