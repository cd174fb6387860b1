#!/usr/bin/env bash
# Receivers that refuse: one closes every connection at once, one reads half of a body and
# closes (the tool refusing_receiver.py). Sending a 2-byte text and a 1 MiB file to either fails every time: status 1 and the
# failure in words, never "Sent". A sanitizer build's velto-cli takes about a quarter of a
# second to start, so there 20 tries of each look for its memory errors and races.
# Usage: fault-refusing-receiver.sh PATH-TO-velto-cli [TRIES]
set -euo pipefail
source "$(dirname "$0")/load-lib.sh" "$1"
tries=${2:-$([ -z "${VELTO_E2E_SANITIZE:-}" ] && echo 100 || echo 20)}

testlan_up 2
ip1=$(testlan_ip h1)
file=$(testlan_home h2)/one.bin
head -c 1048576 /dev/urandom >"$file"
# One shell on the sender for all tries of a kind: a host switch each would cost more than the
# sends. Prints how many ended as expected (status 1, the failure on standard error, no "Sent").
count_refusals() {
    # shellcheck disable=SC2016  # expanded by the shell on the sender
    testlan_exec h2 bash -c '
        cli=$1 tries=$2 failed=0
        shift 2
        for ((i = 0; i < tries; i++)); do
            status=0
            "$cli" send "$@" >"$HOME"/refused.out 2>"$HOME"/refused.err || status=$?
            if ((status == 1)) && ! grep -q Sent "$HOME"/refused.out &&
                grep -q "failed" "$HOME"/refused.err; then
                failed=$((failed + 1))
            fi
        done
        echo "$failed"' refusals "$VELTO_CLI" "$tries" "$ip1" "$@"
}

for mode in closes half; do
    log=$(testlan_home h1)/$mode.json
    testlan_spawn h1 python3 "$E2E_TOOLS/refusing_receiver.py" "$mode" --bind "$ip1" >"$log"
    refuser=$TESTLAN_LAST_PID
    wait_for_output "$log" listening "the receiver that $mode did not start"
    for what in text file; do
        if [ "$what" = text ]; then
            failed=$(count_refusals --text hi)
        else
            failed=$(count_refusals "$file")
        fi
        echo "receiver that $mode, $what: $failed of $tries sends failed"
        [ "$failed" -eq "$tries" ] || fail "a send to the receiver that $mode was not a failure"
    done
    kill "$refuser"
    { wait "$refuser"; } 2>/dev/null || true
done
