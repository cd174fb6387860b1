#!/usr/bin/env bash
# A sender killed in the middle of a body: the receiver reports the failure, keeps nothing of
# the transfer, and the rest of its Downloads stays as it was.
set -euo pipefail
source "$(dirname "$0")/transfer-lib.sh" "$1"

testlan_up 2
mkdir -p "$(downloads_of h2)"
echo mine >"$(downloads_of h2)/keep.txt"
start_receiver h2
# Once some of the body has been written, the sender dies without a word.
start_big_send
kill -KILL "$SENDER"
{ wait "$SENDER"; } 2>/dev/null || true  # its end is expected; no job notice
wait_for_event h2 '"transfer-failed"' 70
expect_downloads h2 keep.txt
[ "$(cat "$(downloads_of h2)/keep.txt")" = mine ] || fail "keep.txt changed"
echo "sender killed: the receiver failed cleanly"
