#!/usr/bin/env bash
# Four transfers at once, two in each direction between two hosts, all arrive intact.
set -euo pipefail
source "$(dirname "$0")/transfer-lib.sh" "$1"

testlan_up 2
start_receiver h1
start_receiver h2
pids=()
for from in h1 h2; do
    to=$([ $from = h1 ] && echo h2 || echo h1)
    for n in 1 2; do
        file=$(testlan_home $from)/$from-$n.bin
        head -c $((20000000 + n)) /dev/urandom >"$file"
        # Sending by address binds no port, so a host can send while it receives.
        testlan_exec $from "$VELTO_CLI" send "$(testlan_ip $to)" "$file" >/dev/null &
        pids+=($!)
    done
done
for pid in "${pids[@]}"; do
    wait "$pid" || fail "a concurrent send failed"
done
for from in h1 h2; do
    to=$([ $from = h1 ] && echo h2 || echo h1)
    for n in 1 2; do
        wait_for_event $to "$from-$n.bin\""
        cmp -s "$(testlan_home $from)/$from-$n.bin" "$(downloads_of $to)/$from-$n.bin" ||
            fail "$from-$n.bin differs on $to"
    done
done
echo "concurrent transfers: all four arrived intact"
