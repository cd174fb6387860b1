#!/usr/bin/env bash
# The receiver killed with SIGKILL in the middle of a body: the sender gives up with an error,
# nothing already in Downloads is damaged, and the hidden intermediate folder the dead receiver
# left behind is removed when the receiver starts again, which then receives normally.
# Usage: fault-receiver-killed.sh PATH-TO-velto-cli
set -euo pipefail
source "$(dirname "$0")/load-lib.sh" "$1"

testlan_up 2
ip1=$(testlan_ip h1)
dl=$(downloads_of h1)
mkdir -p "$dl/Album/sub"
echo mine >"$dl/keep.txt"
head -c 100000 /dev/urandom >"$dl/Album/sub/photo.jpg"
before=$(fingerprint "$dl")
leftovers() { find "$dl" -maxdepth 1 -name '.VeltoTransferIntermediateStorage*' | wc -l; }

start_receiver h1
receiver=$TESTLAN_LAST_PID
big=$(testlan_home h2)/big.bin
truncate -s 4G "$big"
testlan_spawn h2 "$VELTO_CLI" send "$ip1" "$big"
sender=$TESTLAN_LAST_PID
for ((tries = 0; tries < 200; tries++)); do
    partial=$(find "$dl" -path '*/.VeltoTransferIntermediateStorage*/big.bin' -size +1M | head -n 1)
    [ -z "$partial" ] || break
    sleep 0.1
done
[ -n "$partial" ] || fail "the body never started to arrive"
kill -KILL "$receiver"
echo "receiver killed with $(stat -c %s "$partial") bytes of big.bin stored"
if wait "$sender"; then fail "the sender reported success to a dead receiver"; fi
[ "$(leftovers)" -eq 1 ] || fail "expected the dead receiver's intermediate folder"
[ "$(fingerprint "$dl" | grep -v VeltoTransferIntermediateStorage)" = "$before" ] ||
    fail "Downloads changed"

start_receiver h1
[ "$(leftovers)" -eq 0 ] || fail "the leftover intermediate folder is still there after a start"
echo small >"$(testlan_home h2)/after.txt"
send_and_wait h2 h1 "$ip1" "$(testlan_home h2)/after.txt"
[ "$(cat "$dl/after.txt")" = small ] || fail "the transfer after the restart did not arrive"
[ "$(fingerprint "$dl" | grep -v after.txt)" = "$before" ] || fail "Downloads changed"
echo "restarted: leftovers removed, Downloads intact, receiving again"
