#!/usr/bin/env bash
# Slow clients of the metadata server (TCP 4645): five send their request one byte per second,
# five read the answer one byte per second. Another host's requests for the picture are all
# answered in full and in time meanwhile, and the server drops the slow ones by its deadlines:
# its descriptors are back to where they were while the slow clients still hang on.
# Usage: fault-slow-metadata.sh PATH-TO-velto-cli
set -euo pipefail
source "$(dirname "$0")/load-lib.sh" "$1"

testlan_up 3
ip1=$(testlan_ip h1)
# A picture of about half a megabyte: more than the slow readers' buffers take.
convert -seed 7 -size 400x400 xc: +noise Random "png24:$(testlan_home h1)/.face"
start_measured_receiver h1

slow_log=$(testlan_home h2)/slow.json
testlan_spawn h2 python3 "$E2E_TOOLS/slow_http.py" slow --target "$ip1" --writers 5 \
    --readers 5 --seconds 25 >"$slow_log"
slow=$TESTLAN_LAST_PID
wait_for_output "$slow_log" connected "the slow clients could not connect"
echo "with the slow clients: $(figures_of "$INSTANCE")"
fetch_log=$(testlan_home h3)/fetch.json
testlan_exec h3 python3 "$E2E_TOOLS/slow_http.py" fetch --target "$ip1" --seconds 12 \
    --interval 0.5 --limit 5 >"$fetch_log" ||
    fail "requests beside the slow clients failed or came late: $(cat "$fetch_log")"
echo "requests beside them: $(cat "$fetch_log")"
# By now (about 14 s in) the request and reply deadlines of 10 s have passed, and the server lets
# go of the slow clients within its 2 s linger; they hang on until 25 s.
wait_for_descriptors_released 8
kill -0 "$slow" 2>/dev/null || fail "the slow clients gave up before the server dropped them"
after_fds=$(fds_of "$INSTANCE")
echo "while they still hang on: $(figures_of "$INSTANCE")"
expect_growth_at_most "open descriptors" "$BEFORE_FDS" "$after_fds" 0
wait "$slow"
echo "slow clients: $(tail -n 1 "$slow_log")"
python3 -c 'import json, sys; sys.exit(json.load(sys.stdin)["writers_cut_off"] != 5)' \
    < <(tail -n 1 "$slow_log") || fail "the server did not cut off every slow writer"
refused=$(count_diagnostics h1 "Metadata request refused from")
abandoned=$(count_diagnostics h1 "abandoned")
echo "refusals: $refused slow requests refused, $abandoned replies to slow readers abandoned"
((refused == 5 && abandoned == 5)) || fail "not every slow client was refused with a diagnostic line"
stop_measured_receiver
