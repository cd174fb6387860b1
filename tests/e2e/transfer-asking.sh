#!/usr/bin/env bash
# A receiver that asks before storing files (Ask mode, velto-cli receive --json answering from
# its standard input): Accept, Decline, a question left unanswered, a sender burying the receiver
# while its question is pending, cancelling a 1 GiB file from either side (Ctrl-C on velto-cli
# send: status 130), and a closed standard input. Each case checks what each side reported,
# that Downloads holds exactly what it should (nothing partial, nothing replaced), and that the
# receiver serves the next transfer.
set -euo pipefail
source "$(dirname "$0")/transfer-lib.sh" "$1"
question_time=8 # longer than the 3 s after which a sender says that it waits

testlan_up 3
ip1=$(testlan_ip h1)
ip2=$(testlan_ip h2)
events=$(testlan_home h2)/events
downloads=$(downloads_of h2)
src=$(testlan_home h1)
mkdir -p "$downloads" "$src/Album/sub"
echo mine >"$downloads/keep.txt"
echo theirs >"$src/keep.txt"
echo a >"$src/Album/a.txt"
echo b >"$src/Album/sub/b.txt"
echo later >"$(testlan_home h3)/later.txt"

# The receiver's answers go through a pipe that this script holds open (fd 7) until the case
# that closes it; the receiver itself must not hold it. (A command started in the background
# reads /dev/null unless it opens its input itself.)
answers=$(testlan_home h2)/answers
mkfifo "$answers"
exec 7<>"$answers"
# shellcheck disable=SC2016  # expanded by that shell
testlan_exec h2 "$VELTO_CLI" config set receive-mode ask >/dev/null || fail "cannot choose Ask"
testlan_spawn h2 sh -c 'exec "$@" <"$0"' "$answers" env VELTO_QUESTION_TIMEOUT=$question_time \
    "$VELTO_CLI" receive --json >"$events" 2>"$(testlan_home h2)/receiver.err" 7>&-
receiver=$TESTLAN_LAST_PID
wait_for_listener h2

# Starts velto-cli send on a host (Ctrl-C reaches it), its output in NAME.out and NAME.err
# there; its pid in SENT.
send_in_background() {
    local host=$1 name=$2
    testlan_spawn "$host" env --default-signal=INT "$VELTO_CLI" send "$ip2" "${@:3}" \
        >"$(testlan_home "$host")/$name.out" 2>"$(testlan_home "$host")/$name.err" 7>&-
    SENT=$TESTLAN_LAST_PID
}

# Waits for the send with that pid and expects its exit status.
expect_send_status() {
    local status=0
    wait "$1" || status=$?
    ((status == $2)) || fail "$3: velto-cli send ended with $status, expected $2"
}

# Polls (at most $3 s) until h2 reported the event $1 at least $2 times.
wait_for_count() {
    local tries
    for ((tries = 0; tries < $3 * 10; tries++)); do
        (($(count_events h2 "$1") >= $2)) && return 0
        sleep 0.1
    done
    fail "fewer than $2 $1 events on h2"
}

# The data of the n-th event of a kind on h2, as compact JSON.
nth_event() { grep "\"event\":\"$1\"" "$events" | sed -n "$2p" | jq -c .data; }
# The key of the n-th question, once it was asked.
question_key() {
    wait_for_count transfer-asking "$1" 20
    nth_event transfer-asking "$1" | jq -r .key
}
last_failure() { nth_event transfer-failed "$(count_events h2 transfer-failed)"; }
expect_last_failure() {
    local data
    data=$(last_failure)
    [ "$(jq -r .outcome <<<"$data")" = "$1" ] || fail "$2: h2 reported $data, expected $1"
}
no_partial() {
    [ -z "$(find "$downloads" -name '.VeltoTransferIntermediateStorage*')" ] ||
        fail "$1: an intermediate folder is left in h2's Downloads"
}

# Accept: nothing is stored while the question waits, the sender says that it waits, then the
# folder arrives whole.
send_in_background h1 accept "$src/Album"
key=$(question_key 1)
data=$(nth_event transfer-asking 1)
jq -e --arg key "$key" --arg sender "$ip1" \
    '. == {key: $key, peer: (.peer | select(.ip == $sender)), itemCount: 4, totalSize: 4,
           firstName: "Album", secondsLeft: '"$question_time"'}' \
    <<<"$data" >/dev/null || fail "the question carries $data"
for ((tries = 0; tries < 100; tries++)); do
    grep -q "Waiting for .*$ip2.* to accept" "$src/accept.err" && break
    sleep 0.1
done
grep -q "Waiting for .*$ip2.* to accept" "$src/accept.err" || fail "the sender never said it waits: $(cat "$src/accept.err")"
expect_downloads h2 keep.txt
echo "accept $key" >&7
expect_send_status "$SENT" 0 accept
grep -q "^Sent 4 items" "$src/accept.out" || fail "accept: the sender printed $(cat "$src/accept.out")"
wait_for_count transfer-finished 1 10
[ "$(fingerprint "$src/Album")" = "$(fingerprint "$downloads/Album")" ] || fail "Album differs"
echo "accepted: the folder arrived whole after the sender waited"

# Decline, and a question left unanswered: the sender fails, nothing is stored or replaced.
send_in_background h1 decline "$src/keep.txt"
echo "decline $(question_key 2)" >&7
expect_send_status "$SENT" 1 decline
wait_for_count transfer-failed 1 10
expect_last_failure declined decline
started=$(date +%s)
send_in_background h1 unanswered "$src/keep.txt"
question_key 3 >/dev/null
expect_send_status "$SENT" 1 unanswered
waited=$(($(date +%s) - started))
expect_last_failure declined unanswered
((waited >= question_time - 1 && waited <= question_time + 5)) ||
    fail "the unanswered question ended after $waited s"
expect_downloads h2 keep.txt Album
[ "$(cat "$downloads/keep.txt")" = mine ] || fail "keep.txt was replaced"
grep -q "^Sent" "$src/decline.out" "$src/unanswered.out" && fail "a declined file was reported sent"
echo "declined and unanswered (after $waited s): the senders failed, nothing was stored"

# A sender burying the receiver while its question is pending: every further transfer of it
# is refused at once; another computer is still asked.
send_in_background h1 first "$src/keep.txt"
first=$SENT
first_key=$(question_key 4)
buried=()
for ((i = 0; i < 10; i++)); do
    send_in_background h1 "buried$i" "$src/Album/a.txt"
    buried+=("$SENT")
done
for pid in "${buried[@]}"; do
    expect_send_status "$pid" 1 "a buried transfer"
done
wait_for_count transfer-failed 12 10
(($(grep -c '"outcome":"refused"' "$events") == 10)) || fail "not every buried transfer was refused"
send_in_background h3 later "$(testlan_home h3)/later.txt"
later_key=$(question_key 5)
[ "$(nth_event transfer-asking 5 | jq -r .peer.ip)" = "$(testlan_ip h3)" ] || fail "h3 was not asked"
echo "decline $first_key" >&7
echo "accept $later_key" >&7
expect_send_status "$first" 1 "the buried sender's first"
expect_send_status "$SENT" 0 "h3 after the burying"
expect_downloads h2 keep.txt Album later.txt
echo "buried: 10 refused at once, one question stayed, another computer was still asked"

# Cancelling a 1 GiB file in the middle, on a link slow enough that the middle lasts: from
# the receiver (cancel KEY), then from the sender (Ctrl-C: status 130).
truncate -s 1G "$src/big.bin"
testlan_exec h1 tc qdisc add dev eth0 root tbf rate 400mbit burst 256kb latency 50ms
accept_and_wait_for_partial() {
    local key tries partial=""
    key=$(question_key "$1")
    echo "accept $key" >&7
    for ((tries = 0; tries < 200; tries++)); do
        sleep 0.1
        partial=$(find "$downloads" -path '*/.VeltoTransferIntermediateStorage*/big.bin' \
            -size +8M 2>/dev/null | head -n 1)
        [ -z "$partial" ] || break
    done
    [ -n "$partial" ] || fail "the body of big.bin never started to arrive"
    KEY=$key
}
send_in_background h1 cancelled-here "$src/big.bin"
accept_and_wait_for_partial 6
echo "cancel $KEY" >&7
expect_send_status "$SENT" 1 "cancelled by the receiver"
wait_for_count transfer-failed 14 10
expect_last_failure cancelled "cancelled by the receiver"
no_partial "cancelled by the receiver"
send_in_background h1 cancelled-there "$src/big.bin"
accept_and_wait_for_partial 7
kill -INT "$SENT"
expect_send_status "$SENT" 130 "Ctrl-C"
grep -q "cancelled" "$src/cancelled-there.err" || fail "Ctrl-C: $(cat "$src/cancelled-there.err")"
grep -q "^Sent" "$src/cancelled-there.out" && fail "a cancelled transfer was reported sent"
wait_for_count transfer-failed 15 10
expect_last_failure failed "cancelled by the sender"
no_partial "cancelled by the sender"
testlan_exec h1 tc qdisc del dev eth0 root
used=$(du -sk "$downloads" | cut -f1)
((used < 1024)) || fail "h2's Downloads uses $used KiB after the cancelled transfers"
expect_downloads h2 keep.txt Album later.txt
echo "cancelled from either side: nothing partial left ($used KiB in Downloads)"

# A closed standard input declines what is pending and every question after it; texts still
# arrive.
send_in_background h3 pending "$(testlan_home h3)/later.txt"
question_key 8 >/dev/null
exec 7>&-
expect_send_status "$SENT" 1 "pending when the input closed"
send_in_background h3 after "$(testlan_home h3)/later.txt"
expect_send_status "$SENT" 1 "asked after the input closed"
[ "$(count_events h2 transfer-asking)" = 9 ] || fail "the question after the close was not asked"
testlan_exec h1 "$VELTO_CLI" send "$ip2" --text "still here" >/dev/null || fail "a text failed"
wait_for_event h2 '"text":"still here"' 10
expect_downloads h2 keep.txt Album later.txt
[ "$(grep '"event":"transfer-failed"' "$events" | tail -n 2 | jq -r .data.reason | sort -u)" = declined ] ||
    fail "the closed input did not decline"
kill -TERM "$receiver"
wait "$receiver" || fail "the receiver did not stop cleanly"
echo "closed input: pending and later questions declined at once, a text still arrived"
