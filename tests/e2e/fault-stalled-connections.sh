#!/usr/bin/env bash
# 200 connections to the transfer port that send a stream header and stall, and 50 that send
# random bytes and stall: the receiver drops each (by its read time-out, or at once when the
# bytes make no sense), leaks no descriptor and no memory, and a real transfer running at the
# same time arrives intact.
# Usage: fault-stalled-connections.sh PATH-TO-velto-cli [MEGABYTES]
set -euo pipefail
source "$(dirname "$0")/load-lib.sh" "$1"
megabytes=${2:-128}
rss_limit_kb=$((64 * 1024))

testlan_up 3
ip1=$(testlan_ip h1)
big=$(testlan_home h3)/big.bin
head -c "$((megabytes * 1024 * 1024))" /dev/urandom >"$big"
start_measured_receiver h1

stall_log=$(testlan_home h2)/stall.json
testlan_spawn h2 python3 "$E2E_TOOLS/tcp_stall.py" --target "$ip1" --stalled 200 --random 50 \
    --limit 90 >"$stall_log"
staller=$TESTLAN_LAST_PID
# The real transfer starts once the stalled connections are all open and held.
wait_for_output "$stall_log" opened "the stalled connections could not be opened"
echo "opened: $(cat "$stall_log")"
# The transfer's connection waits behind the others to be accepted, and runs while they are held.
started=$EPOCHREALTIME
send_and_wait h3 h1 "$ip1" "$big"
echo "as the transfer ends: $(figures_of "$INSTANCE")"
seconds=$(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }')
awk -v mb="$megabytes" -v s="$seconds" \
    'BEGIN { printf "concurrent transfer: %d MiB in %.2f s, %.1f MiB/s\n", mb, s, mb / s }'
cmp -s "$big" "$(downloads_of h1)/big.bin" || fail "the concurrent transfer arrived damaged"

wait "$staller" || fail "connections were still open at the limit: $(tail -n 1 "$stall_log")"
echo "stalled connections: $(tail -n 1 "$stall_log")"
wait_for_descriptors_released
echo "after: $(figures_of "$INSTANCE")"
expect_growth_at_most "open descriptors" "$BEFORE_FDS" "$(fds_of "$INSTANCE")" 0
expect_memory_growth_at_most "$BEFORE_RSS" "$(rss_kb_of "$INSTANCE")" "$rss_limit_kb"
reports=$(count_events h1 transfer-failed)
lines=$(count_diagnostics h1 "Incoming transfer failed:")
echo "refusals: $reports reports, $lines diagnostic lines"
((reports == 250 && lines == 250)) || fail "not every stalled stream was reported failed"
stop_measured_receiver
