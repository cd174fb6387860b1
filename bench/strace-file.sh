#!/usr/bin/env bash
# Counts the system calls of one 1 GiB transfer on the test LAN (strace -c -f of the sender on
# h2 and the receiver on h1), to show which calls carry the bodies; with --tree, of one transfer
# of 10,000 files of 4 KiB in 100 folders (as in bench/run.sh), to show the calls per file. As
# root, from the source tree; the velto-cli to use may be given (default: the bench build).
#   bash bench/strace-file.sh [--tree] [VELTO-CLI]
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" = 0 ] || { echo "strace-file: run as root" >&2; exit 1; }
tree=
[ "${1:-}" != --tree ] || { tree=1 && shift; }
cli=$(realpath "${1:-build/bench/cli/velto-cli}")
# shellcheck source=lan/workspace.sh
source bench/lan/workspace.sh
bench_workspace velto-strace 4g 2

if [ -n "$tree" ]; then
    source_path=$work/tree rows=30
    python3 bench/lan/make_tree.py "$source_path"
else
    source_path=$work/big.bin rows=12
    head -c $((1024 * 1024 * 1024)) /dev/urandom >"$source_path"
fi
testlan_spawn h1 strace -c -f -o "$work/receiver.txt" "$cli" receive --json >"$work/events" 2>&1
receiver=$TESTLAN_LAST_PID
testlan_wait_for_port h1 t 4644
testlan_exec h2 strace -c -f -o "$work/sender.txt" "$cli" send "$(testlan_ip h1)" "$source_path" \
    >/dev/null
for _ in $(seq 100); do
    grep -q transfer-finished "$work/events" && break
    sleep 0.1
done
kill -TERM "$(cat "/proc/$receiver/task/$receiver/children" 2>/dev/null || echo "$receiver")" \
    2>/dev/null || true
wait "$receiver" 2>/dev/null || true
if [ -n "$tree" ]; then
    diff -r -q "$source_path" "$(testlan_home h1)/Downloads/tree"
else
    cmp "$source_path" "$(testlan_home h1)/Downloads/big.bin"
fi
for side in sender receiver; do
    echo "== $side"
    head -n "$rows" "$work/$side.txt"
done
