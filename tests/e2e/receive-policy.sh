#!/usr/bin/env bash
# What a receiver lets in, as set with velto-cli while it runs: h1 is trusted, h3 blocked, h4
# unknown; each sends a text and a folder under the modes everyone, trusted, off and
# everyone-timed (shortened to 3 s, after which off comes back). Every change is made with
# "velto-cli config set" on h2 and must be in force within 2 s. Each case checks both sides'
# reports and the receiving folder (a pre-existing file left alone, no partial, no intermediate
# folder, nothing in Downloads). Then the signature of the blocked computer is recorded when it
# is heard, visibility is seen from h4's "peers", and a folder change and --dir are followed.
set -euo pipefail

source "$(dirname "$0")/transfer-lib.sh" "$1"

testlan_up 4
home2=$(testlan_home h2)
inbox=$home2/Inbox
events=$home2/events
ip1=$(testlan_ip h1) ip2=$(testlan_ip h2) ip3=$(testlan_ip h3) ip4=$(testlan_ip h4)
on_h2() { testlan_exec h2 env VELTO_EVERYONE_TIMED_SECONDS=3 "$VELTO_CLI" "$@"; }

mkdir -p "$inbox"
echo "kept as it was" >"$inbox/note.txt"
on_h2 trust "$ip1" >/dev/null
on_h2 block "$ip3" >/dev/null
on_h2 config set receive-folder "$inbox" >/dev/null
for host in h1 h3 h4; do
    mkdir -p "$(testlan_home $host)/Album/Sub"
    echo "from $host" >"$(testlan_home $host)/Album/Sub/a.txt"
    head -c 200000 /dev/urandom >"$(testlan_home $host)/Album/b.bin"
done

testlan_spawn h2 env VELTO_EVERYONE_TIMED_SECONDS=3 "$VELTO_CLI" receive --json >"$events" \
    2>"$home2/receiver.err"
receiver=$TESTLAN_LAST_PID
wait_for_listener h2

# Changes a setting on h2 and waits (2 s at most) for the receiver to report it in force.
set_on_h2() {
    local key=$1 value=$2 reported=${3:-$2}
    on_h2 config set "$key" "$value" >/dev/null
    wait_for_event h2 "\"key\":\"$key\",\"value\":\"$reported\"" 2
}

expect_inbox() {
    local actual expected
    actual=$(ls -A "$inbox" | sort)
    expected=$(printf '%s\n' note.txt "$@" | sort)
    [ "$actual" = "$expected" ] || fail "the receiving folder holds [$actual], expected [$expected]"
    [ "$(cat "$inbox/note.txt")" = "kept as it was" ] || fail "note.txt was replaced"
    [ ! -e "$(downloads_of h2)" ] || [ -z "$(ls -A "$(downloads_of h2)")" ] ||
        fail "something landed in Downloads"
}

wait_for_folder() {
    for ((tries = 0; tries < 50; tries++)); do
        [ ! -d "$1" ] || return 0
        sleep 0.1
    done
}

refusals_from() { grep -F "\"from\":\"$1\"" "$events" | grep -c '"event":"transfer-refused"' || true; }

# One send of what ("text" or "folder") from host, expected to be received or refused.
check_send() {
    local mode=$1 host=$2 what=$3 outcome=$4 ip refused_before finished_before status=0 out
    ip=$(testlan_ip "$host")
    out=$(testlan_home "$host")/sent
    refused_before=$(refusals_from "$ip")
    finished_before=$(count_events h2 transfer-finished)
    if [ "$what" = text ]; then
        testlan_exec "$host" "$VELTO_CLI" send "$ip2" --text "$mode from $host" >"$out" 2>&1 ||
            status=$?
    else
        testlan_exec "$host" "$VELTO_CLI" send "$ip2" "$(testlan_home "$host")/Album" >"$out" 2>&1 ||
            status=$?
    fi
    local case="$mode, $what from $host"
    if [ "$outcome" = received ]; then
        [ "$status" -eq 0 ] && grep -q '^Sent' "$out" || fail "$case: the send failed: $(cat "$out")"
        for ((tries = 0; tries < 50; tries++)); do
            [ "$(count_events h2 transfer-finished)" -gt "$finished_before" ] && break
            sleep 0.1
        done
        [ "$(count_events h2 transfer-finished)" -gt "$finished_before" ] ||
            fail "$case: h2 did not finish receiving"
        if [ "$what" = text ]; then
            grep -qF "\"text\":\"$mode from $host\"" "$events" || fail "$case: no text event"
            expect_inbox
        else
            expect_inbox Album
            [ "$(fingerprint "$inbox/Album")" = "$(fingerprint "$(testlan_home "$host")/Album")" ] ||
                fail "$case: the folder arrived changed"
            rm -r "$inbox/Album"
        fi
    else
        [ "$status" -eq 1 ] && ! grep -q '^Sent' "$out" || fail "$case: not a failure: $(cat "$out")"
        for ((tries = 0; tries < 50; tries++)); do
            [ "$(refusals_from "$ip")" -gt "$refused_before" ] && break
            sleep 0.1
        done
        [ "$(refusals_from "$ip")" -gt "$refused_before" ] || fail "$case: h2 did not report the refusal"
        [ "$(count_events h2 transfer-finished)" -eq "$finished_before" ] ||
            fail "$case: h2 received it anyway"
        expect_inbox
    fi
    echo "$case: $outcome"
}

matrix() {
    local mode=$1 trusted=$2 unknown=$3
    for what in text folder; do
        check_send "$mode" h1 "$what" "$trusted"
        check_send "$mode" h4 "$what" "$unknown"
        check_send "$mode" h3 "$what" refused
    done
}

started=$SECONDS
matrix everyone received received
set_on_h2 receive-mode trusted
matrix trusted received refused
set_on_h2 receive-mode off
matrix off refused refused
set_on_h2 receive-mode everyone-timed
matrix everyone-timed received received
# Off comes back by itself once the 3 s are up, in the file too.
for ((tries = 0; tries < 50; tries++)); do
    [ "$(grep -c '"key":"receive-mode","value":"off"' "$events")" -eq 2 ] && break
    sleep 0.1
done
[ "$(grep -c '"key":"receive-mode","value":"off"' "$events")" -eq 2 ] ||
    fail "off did not come back after the timed mode"
grep -q '"receiveMode": "off"' "$home2/.config/velto/settings.json" ||
    fail "the end of the timed mode was not written back"
check_send "after everyone-timed" h4 text refused
echo "matrix: $((SECONDS - started)) s"

# The blocked computer is heard (and ignored): its signature is recorded with its entry, and
# h2, which does not answer it, is not in its list.
set_on_h2 receive-mode everyone
testlan_exec h3 "$VELTO_CLI" peers --json --wait 1 >"$(testlan_home h3)/peers.json"
grep -q "\"$ip2\"" "$(testlan_home h3)/peers.json" && fail "h2 answered a blocked computer"
for ((tries = 0; tries < 20; tries++)); do
    on_h2 config get blocked | grep -q "^$ip3 .*velto-h3" && break
    sleep 0.1
done
on_h2 config get blocked | grep -q "^$ip3 .*velto-h3" || fail "no signature recorded for h3"

# Visibility as h4 sees it.
set_on_h2 visible no
testlan_exec h4 "$VELTO_CLI" peers --json --wait 1 >"$(testlan_home h4)/peers.json"
grep -q "\"$ip2\"" "$(testlan_home h4)/peers.json" && fail "an invisible h2 was listed"
set_on_h2 visible yes
testlan_exec h4 "$VELTO_CLI" peers --json --wait 1 >"$(testlan_home h4)/peers.json"
grep -q "\"$ip2\"" "$(testlan_home h4)/peers.json" || fail "a visible h2 was not listed"
check_send visible h4 folder received

# Another receiving folder, followed while running; then one for a run only.
mkdir -p "$home2/Other" "$home2/ForThisRun"
set_on_h2 receive-folder "$home2/Other"
testlan_exec h4 "$VELTO_CLI" send "$ip2" "$(testlan_home h4)/Album" >/dev/null
wait_for_folder "$home2/Other/Album"
[ -d "$home2/Other/Album" ] || fail "the folder changed while running was not followed"
expect_inbox
kill "$receiver"
wait "$receiver" || fail "the receiver did not end cleanly"
testlan_spawn h2 "$VELTO_CLI" receive --dir "$home2/ForThisRun" >"$home2/run.out" 2>&1
receiver=$TESTLAN_LAST_PID
wait_for_listener h2
testlan_exec h4 "$VELTO_CLI" send "$ip2" "$(testlan_home h4)/Album" >/dev/null
wait_for_folder "$home2/ForThisRun/Album"
[ -d "$home2/ForThisRun/Album" ] || fail "--dir was not followed"
[ ! -e "$home2/Other/Album (2)" ] || fail "--dir stored into the setting's folder"
kill "$receiver"
wait "$receiver" || fail "the receiver with --dir did not end cleanly"
[ ! -s "$home2/receiver.err" ] || fail "the receiver complained: $(cat "$home2/receiver.err")"
echo "all cases: $SECONDS s"
