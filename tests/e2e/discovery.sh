#!/usr/bin/env bash
# Discovery on the test LAN, with velto-cli on every host:
#   A. a plain-socket peer checks hello, replies, goodbye and a unicast hello byte for byte
#      (port-field types too), and the instance lists that peer with the port it announced last;
#   B. the metadata server answers curl with exactly its 200, 404 and 400 responses;
#   C. three instances list exactly each other, with the right signatures and the pictures of
#      the users who have one;
#   D. an instance stopped by a hang-up (SIGHUP) says goodbye, and the others drop it.
# Usage: discovery.sh PATH-TO-velto-cli
# shellcheck disable=SC2317
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cli=$(realpath "$1")
checks="$here/discovery_checks.py"
# shellcheck source=../testlan/testlan.sh
source "$here/../testlan/testlan.sh"

if [ "$(id -u)" -ne 0 ]; then
    echo "the test LAN needs root; skipped"
    exit 77
fi

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

testlan_up 3
work=$(mktemp -d)
trap 'testlan_down; rm -rf "$work"' EXIT
h1=$(testlan_ip h1) h2=$(testlan_ip h2) h3=$(testlan_ip h3)
user=$(getent passwd "$(id -un)" | cut -d: -f5 | cut -d, -f1)
[ -n "$user" ] || user=$(id -un)
signature() { echo "$user at $(testlan_hostname "$1") [Velto] (Linux)"; }

# Polls (at most about 5 s) until something listens on a TCP or UDP port of a host.
wait_for_port() { testlan_wait_for_port "$1" "$2" "$3" 5 || fail "nothing listens on $2 port $3 on $1"; }

# The hosts' firewalls drop goodbyes (datagrams whose first byte is 3), so that instances that
# finish first cannot empty the tables of instances that are about to print theirs.
drop_goodbyes() {
    local h
    for h in "$@"; do
        testlan_exec "$h" nft -f - <<'RULES'
table inet discovery_goodbyes {
    chain input {
        type filter hook input priority 0; policy accept;
        udp dport 4644 @th,64,8 3 drop
    }
}
RULES
    done
}
pass_goodbyes() { for h in "$@"; do testlan_exec "$h" nft delete table inet discovery_goodbyes; done; }

# Starts velto-cli peers on a host; its JSON goes to $work/<name>.json.
spawn_peers() {
    local host=$1 name=$2
    shift 2
    testlan_spawn "$host" "$cli" peers --json "$@" >"$work/$name.json" 2>"$work/$name.err"
}

echo "== A: datagrams byte for byte against a plain-socket peer"
testlan_spawn h2 python3 -u "$here/discovery_peer.py" --velto "$h1" --signature "$(signature h1)" \
    --broadcast 10.77.0.255 >"$work/peer.log" 2>&1
peer=$TESTLAN_LAST_PID
wait_for_port h2 u 5002
testlan_exec h1 "$cli" peers --wait 1.5 --json >"$work/a-h1.json" || fail "velto-cli peers failed"
testlan_exec h1 "$cli" hello "$h2" || fail "velto-cli hello got no answer"
wait "$peer" || { cat "$work/peer.log"; fail "the plain-socket peer saw something else"; }
cat "$work/peer.log"
python3 "$checks" peers "$work/a-h1.json" "$h2" 5002 "Plain Peer at socket-test [Velto] (Test)" -

echo "== B: metadata server answers over curl"
python3 "$checks" png "$(testlan_home h1)/.face" + png "$(testlan_home h3)/.face"
spawn_peers h1 b-h1 --wait 60
spawn_peers h3 b-h3 --wait 60
servers=("${TESTLAN_PIDS[@]: -2}")
for h in h1 h3; do wait_for_port "$h" t 4645; done
# One shell on h2 asks everything (a host command is slow to start on a busy machine). The
# picture is looked up for every request: without it, the same server answers 404.
testlan_exec h2 sh -c '
    fetch() { out=$1; shift; curl -s -i --raw "$@" -o "$out"; }
    fetch "$1/h1.http" "http://$2:4645/velto/avatar"
    fetch "$1/h3.http" "http://$3:4645/velto/avatar"
    fetch "$1/post.http" -X POST -d ignored "http://$2:4645/velto/avatar"
    fetch "$1/root.http" "http://$2:4645/"
    fetch "$1/quoted.http" "http://$2:4645/a%22b%5Cc?q=1"
    mv "$4" "$1/h3.face"
    fetch "$1/gone.http" "http://$3:4645/velto/avatar"
    mv "$1/h3.face" "$4"
    curl -sv "http://$2:4645/nothing" -o /dev/null 2>&1 | grep "^[<>]"
' sh "$work" "$h1" "$h3" "$(testlan_home h3)/.face"
kill -TERM "${servers[@]}"
wait "${servers[@]}" || true
python3 "$checks" http "$work/h1.http" 200 + http "$work/h3.http" 200 + \
    http "$work/post.http" 200 + http "$work/root.http" 400 '"/"' + \
    http "$work/quoted.http" 400 '"/a\"b\\c"' + http "$work/gone.http" 404
cmp "$work/post.http.body" "$work/h1.http.body" || fail "POST and GET answered differently"

echo "== C: three instances list each other, with pictures where the user has one"
drop_goodbyes h1 h2 h3
for h in h1 h2 h3; do spawn_peers "$h" "c-$h" --wait 3; done
wait "${TESTLAN_PIDS[@]: -3}" || fail "a velto-cli peers failed"
python3 "$checks" \
    peers "$work/c-h1.json" "$h2" 4644 "$(signature h2)" - \
    "$h3" 4644 "$(signature h3)" "$work/h3.http.body" + \
    peers "$work/c-h2.json" "$h1" 4644 "$(signature h1)" "$work/h1.http.body" \
    "$h3" 4644 "$(signature h3)" "$work/h3.http.body" + \
    peers "$work/c-h3.json" "$h1" 4644 "$(signature h1)" "$work/h1.http.body" \
    "$h2" 4644 "$(signature h2)" -
pass_goodbyes h1 h2 h3

echo "== D: an instance stopped by a hang-up says goodbye; the others drop it"
rm "$(testlan_home h1)/.face" "$(testlan_home h3)/.face"
# Verbose, it writes its table to d-h3.err each time it hears someone.
testlan_spawn h3 "$cli" -v peers --json --wait 60 >"$work/d-h3.json" 2>"$work/d-h3.err"
leaving=$TESTLAN_LAST_PID
wait_for_port h3 u 4644
for h in h1 h2; do spawn_peers "$h" "d-$h" --wait 3; done
pids=("${TESTLAN_PIDS[@]: -2}")
# The hang-up comes once h3 has heard both and so has answered both: they know it.
for ((tries = 0; tries < 100; tries++)); do
    grep -q "^Peers (2):" "$work/d-h3.err" && break
    sleep 0.05
done
kill -HUP "$leaving"
status=0
wait "$leaving" || status=$?
[ "$status" -eq 129 ] || fail "a stopped velto-cli exited with $status, not 129"
python3 "$checks" peers "$work/d-h3.json" "$h1" 4644 "$(signature h1)" - "$h2" 4644 "$(signature h2)" -
drop_goodbyes h1 h2
wait "${pids[@]}" || fail "a velto-cli peers failed"
python3 "$checks" peers "$work/d-h1.json" "$h2" 4644 "$(signature h2)" - + \
    peers "$work/d-h2.json" "$h1" 4644 "$(signature h1)" -
echo "discovery scenarios passed"
