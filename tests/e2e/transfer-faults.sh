#!/usr/bin/env bash
# A sender killed in the middle of a body: the receiver reports the failure, keeps nothing of
# the transfer, and the rest of its Downloads stays as it was.
set -euo pipefail
source "$(dirname "$0")/transfer-lib.sh" "$1"

testlan_up 2
mkdir -p "$(downloads_of h2)"
echo mine >"$(downloads_of h2)/keep.txt"
start_receiver h2
big=$(testlan_home h1)/big.bin
truncate -s 4G "$big"
testlan_spawn h1 "$VELTO_CLI" send "$(testlan_ip h2)" "$big"
sender=$TESTLAN_LAST_PID
wait_for_event h2 '"filename":"big.bin"'
# Once some of the body has been written, the sender dies without a word.
for ((tries = 0; tries < 100; tries++)); do
    partial=$(find "$(downloads_of h2)" -path '*/.VeltoTransferIntermediateStorage*/big.bin' \
        -size +1M 2>/dev/null | head -n 1)
    [ -z "$partial" ] || break
    sleep 0.1
done
[ -n "$partial" ] || fail "the body never started to arrive"
kill -KILL "$sender"
{ wait "$sender"; } 2>/dev/null || true  # its end is expected; no job notice
wait_for_event h2 '"transfer-failed"' 70
expect_downloads h2 keep.txt
[ "$(cat "$(downloads_of h2)/keep.txt")" = mine ] || fail "keep.txt changed"
echo "sender killed: the receiver failed cleanly"
