#!/usr/bin/env bash
# Counts the system calls of one 1 GiB transfer on the test LAN (strace -c -f of the sender on
# h2 and the receiver on h1), to show which calls carry the bodies. As root, from the source
# tree; the velto-cli to use may be given (default: the bench build).
#   bash bench/strace-file.sh [VELTO-CLI]
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" = 0 ] || { echo "strace-file: run as root" >&2; exit 1; }
cli=$(realpath "${1:-build/bench/cli/velto-cli}")
# shellcheck source=lan/workspace.sh
source bench/lan/workspace.sh
bench_workspace velto-strace 4g 2

head -c $((1024 * 1024 * 1024)) /dev/urandom >"$work/big.bin"
testlan_spawn h1 strace -c -f -o "$work/receiver.txt" "$cli" receive --json >"$work/events" 2>&1
receiver=$TESTLAN_LAST_PID
testlan_wait_for_port h1 t 4644
testlan_exec h2 strace -c -f -o "$work/sender.txt" "$cli" send "$(testlan_ip h1)" "$work/big.bin" \
    >/dev/null
for _ in $(seq 100); do
    grep -q transfer-finished "$work/events" && break
    sleep 0.1
done
kill -TERM "$(cat "/proc/$receiver/task/$receiver/children" 2>/dev/null || echo "$receiver")" \
    2>/dev/null || true
wait "$receiver" 2>/dev/null || true
cmp "$work/big.bin" "$(testlan_home h1)/Downloads/big.bin"
for side in sender receiver; do
    echo "== $side"
    head -n 12 "$work/$side.txt"
done
