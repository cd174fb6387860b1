#!/usr/bin/env bash
# A flood at the discovery port: 100,000 datagrams that must all be dropped, from 200 extra
# addresses of one host, each of which also sends a valid hello. The instance answers a probe on
# another host during the flood and every probe after it, ends up with exactly the 200 peers and
# the probe in its table, refuses each malformed datagram it gets with a diagnostic line, and its descriptors,
# threads and memory stay within fixed bounds.
# Usage: fault-discovery-flood.sh PATH-TO-velto-cli [DATAGRAMS]
set -euo pipefail
source "$(dirname "$0")/load-lib.sh" "$1"
count=${2:-100000}
rss_limit_kb=$((64 * 1024))

testlan_up 3
ip1=$(testlan_ip h1)
for ((n = 30; n < 230; n++)); do testlan_add_address h2 "10.77.0.$n"; done
start_measured_receiver h1

probe_log=$(testlan_home h3)/probe.json
flood_log=$(testlan_home h2)/flood.json
testlan_spawn h3 python3 "$E2E_TOOLS/discovery_load.py" probe --target "$ip1" --seconds 12 \
    >"$probe_log"
probe=$TESTLAN_LAST_PID
testlan_exec h2 python3 "$E2E_TOOLS/discovery_load.py" flood --target "$ip1" \
    --sources 10.77.0.30-229 --count "$count" --seconds 60 >"$flood_log" ||
    fail "some of the 200 valid hellos were never answered: $(cat "$flood_log")"
echo "flood: $(cat "$flood_log")"
wait "$probe" || fail "the instance answered no probe during the flood: $(cat "$probe_log")"
echo "probe during the flood: $(cat "$probe_log")"
# During the flood a probe shares the fate of the datagrams around it in a full receive buffer;
# once it is over, every probe must be answered.
figure() { python3 -c "import json, sys; print(json.load(sys.stdin)[sys.argv[1]])" "$1" <"$2"; }
testlan_exec h3 python3 "$E2E_TOOLS/discovery_load.py" probe --target "$ip1" --seconds 3 \
    --interval 1 >"$probe_log" || true
echo "probe after the flood: $(cat "$probe_log")"
(($(figure answered "$probe_log") == $(figure probes "$probe_log"))) ||
    fail "the instance left probes unanswered after the flood"
echo "after: $(figures_of "$INSTANCE")"
kill -0 "$INSTANCE" 2>/dev/null || fail "the instance is gone"

# The table, from the instance's own reports: every address added once, none removed.
events=$(testlan_home h1)/events
added=$(python3 -c 'import json, sys
for line in sys.stdin:
    event = json.loads(line)
    if event["event"] == "peer-added":
        print(event["data"]["key"])' <"$events" | sort)
expected=$( (seq -f '10.77.0.%g' 30 229 && testlan_ip h3) | sort)
[ "$added" = "$expected" ] || fail "the table holds $(echo "$added" | wc -l) peers, not the 201 valid ones"
[ "$(count_events h1 peer-removed)" -eq 0 ] || fail "a peer was removed"
echo "table: $(echo "$added" | wc -l) peers, exactly the valid ones"

# One diagnostic line per refused datagram that reached the instance: no more than were sent,
# and no fewer than were sent less those its receive buffer had no room for.
refusable=$(figure refusable_sent "$flood_log")
overflows=$(testlan_exec h1 awk '/^Udp:/ && ++n == 2 { print $4 }' /proc/net/snmp)  # InErrors
refused=$(count_diagnostics h1 "Dropped datagram from")
echo "refused with a diagnostic line: $refused of $refusable sent ($overflows lost to a full receive buffer)"
((refused <= refusable && refused >= refusable - overflows)) ||
    fail "$refused diagnostic lines for $refusable refusable datagrams"

expect_growth_at_most "open descriptors" "$BEFORE_FDS" "$(fds_of "$INSTANCE")" 0
expect_growth_at_most "threads" "$BEFORE_THREADS" "$(threads_of "$INSTANCE")" 0
expect_memory_growth_at_most "$BEFORE_RSS" "$(rss_kb_of "$INSTANCE")" "$rss_limit_kb"
stop_measured_receiver
