#!/usr/bin/env bash
# A slow but steady link and a sender that stops. Deadlines count from the last byte that moved:
# an 11 MiB file over a link shaped to 150 KB/s (a 10 MiB chunk takes about 70 s there, more than
# the 60 s stall time) arrives whole; a sender that stops in the middle of a body still fails
# at the receiver one stall time after its last byte arrived.
set -euo pipefail
source "$(dirname "$0")/transfer-lib.sh" "$1"
stall_time=60

testlan_up 2
mkdir -p "$(downloads_of h2)"
start_receiver h2
ip2=$(testlan_ip h2)
src=$(testlan_home h1)
head -c $((11 * 1024 * 1024)) /dev/urandom >"$src/eleven.bin"

testlan_exec h1 tc qdisc add dev eth0 root tbf rate 150kbps burst 16kb latency 500ms
started=$(date +%s)
send_ok h1 "$ip2" "$src/eleven.bin"
echo "11 MiB at 150 KB/s took $(($(date +%s) - started)) s"
cmp -s "$(downloads_of h2)/eleven.bin" "$src/eleven.bin" || fail "the file differs"
testlan_exec h1 tc qdisc del dev eth0 root

# A sender that stops (SIGSTOP) with a body under way: once its bytes in flight have arrived,
# nothing moves, and the receiver gives up after the stall time.
start_big_send
kill -STOP "$SENDER"
size=-1
while [ "$(stat -c %s "$PARTIAL")" != "$size" ]; do
    size=$(stat -c %s "$PARTIAL")
    sleep 1
done
stalled=$(date +%s)
wait_for_event h2 '"transfer-failed"' $((stall_time + 10))
waited=$(($(date +%s) - stalled))
echo "the receiver gave up ${waited} s after the last byte arrived"
((waited >= stall_time - 5)) || fail "the receiver gave up before the stall time"
kill -KILL "$SENDER"
{ wait "$SENDER"; } 2>/dev/null || true
expect_downloads h2 eleven.bin
