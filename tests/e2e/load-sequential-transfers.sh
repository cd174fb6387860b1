#!/usr/bin/env bash
# 1,000 small transfers one after the other: every file arrives intact, and the receiver's
# descriptors, threads and memory do not grow with the number of transfers it has served.
# Then 1,000 texts from velto-cli: each one ends in success (sending is a success only once
# the receiver took every byte and closed, so a slip there would show as a failure). A
# sanitizer build's velto-cli takes about a quarter of a second just to start, so there 100
# texts look for its memory errors and races, in about half a minute.
# Usage: load-sequential-transfers.sh PATH-TO-velto-cli [COUNT]
set -euo pipefail
source "$(dirname "$0")/load-lib.sh" "$1"
count=${2:-1000}
rss_limit_kb=$((16 * 1024))
sender=("$E2E_TOOLS/stream_sender.py")

testlan_up 2
ip1=$(testlan_ip h1)
dl=$(downloads_of h1)
start_measured_receiver h1
# A few transfers first, so that what is set up once (buffers, the first file's folder) is in
# place before the figures are taken.
testlan_exec h2 python3 "${sender[@]}" sequence --target "$ip1" --count 20 >/dev/null ||
    fail "the warm-up transfers failed"
rm -f "$dl"/*
note_figures

testlan_exec h2 python3 "${sender[@]}" sequence --target "$ip1" --count "$count" ||
    fail "a transfer was broken off"
wait_for_descriptors_released
echo "after $count transfers: $(figures_of "$INSTANCE")"
testlan_exec h1 python3 "${sender[@]}" verify --folder "$dl" --count "$count" ||
    fail "the received files differ from those sent"
expect_growth_at_most "open descriptors" "$BEFORE_FDS" "$(fds_of "$INSTANCE")" 0
expect_growth_at_most "threads" "$BEFORE_THREADS" "$(threads_of "$INSTANCE")" 0
expect_memory_growth_at_most "$BEFORE_RSS" "$(rss_kb_of "$INSTANCE")" "$rss_limit_kb"

texts=$count
[ -z "${VELTO_E2E_SANITIZE:-}" ] || texts=$((count < 100 ? count : 100))
texts_before=$(count_events h1 transfer-incoming-text)
started=$(date +%s.%N)
# One shell on the sender for all of them: a host switch each would cost more than the sends.
# shellcheck disable=SC2016  # expanded by that shell
sent=$(testlan_exec h2 bash -c '
    for ((i = 0; i < $3; i++)); do "$1" send "$2" --text "text $i" >/dev/null || break; done
    echo "$i"' texts "$VELTO_CLI" "$ip1" "$texts")
echo "$sent of $texts texts sent in $(echo "$(date +%s.%N) - $started" | bc) s"
[ "$sent" -eq "$texts" ] || fail "sending text $sent failed"
for ((tries = 0; tries < 100; tries++)); do
    [ $(($(count_events h1 transfer-incoming-text) - texts_before)) -lt "$texts" ] || break
    sleep 0.1
done
[ $(($(count_events h1 transfer-incoming-text) - texts_before)) -eq "$texts" ] ||
    fail "the receiver did not report every text"
stop_measured_receiver
