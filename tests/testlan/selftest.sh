#!/usr/bin/env bash
# Checks the test LAN itself: hosts reach each other, a broadcast reaches every other host,
# each host has its own name and HOME, and teardown leaves nothing behind, also when the
# script using the LAN fails or is stopped.
# shellcheck disable=SC2015,SC2016
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=testlan.sh
source "$here/testlan.sh"

if [ "$(id -u)" -ne 0 ]; then
    echo "the test LAN needs root; skipped"
    exit 77
fi

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Namespaces of a run and veth interfaces of the caller's namespace.
namespaces_of() { ip netns list | awk '{print $1}' | grep -c "^$1-" || true; }
veth_count() { ip -o link show type veth | wc -l; }


veths_before=$(veth_count)
testlan_up 3
id=$TESTLAN_ID
[ "$(namespaces_of "$id")" -eq 4 ] || fail "expected 3 host namespaces and a bridge"

for a in h1 h2 h3; do
    for b in h1 h2 h3; do
        [ "$a" = "$b" ] && continue
        testlan_exec "$a" ping -c 1 -W 2 -q "$(testlan_ip "$b")" >/dev/null ||
            fail "$a cannot reach $b at $(testlan_ip "$b")"
    done
done

testlan_add_address h3 10.77.0.201
testlan_exec h1 ping -c 1 -W 2 -q 10.77.0.201 >/dev/null || fail "extra address unreachable"

receivers=()
for host in h2 h3; do
    testlan_spawn "$host" timeout 20 socat -u UDP4-RECVFROM:5999 \
        "OPEN:$(testlan_home "$host")/heard,creat,trunc"
    receivers+=("$TESTLAN_LAST_PID")
done
for h in h2 h3; do testlan_wait_for_port "$h" u 5999 5 || fail "nothing listens on UDP 5999 on $h"; done
echo "hello from h1" | testlan_exec h1 socat -u - UDP4-DATAGRAM:10.77.0.255:5999,broadcast
for pid in "${receivers[@]}"; do
    wait "$pid" || fail "a receiver heard nothing"
done
for host in h2 h3; do
    [ "$(cat "$(testlan_home "$host")/heard")" = "hello from h1" ] ||
        fail "$host did not hear the broadcast"
done

declare -A names homes
for host in h1 h2 h3; do
    name=$(testlan_exec "$host" hostname)
    home=$(testlan_exec "$host" sh -c 'printf %s "$HOME"')
    [ "$name" = "$(testlan_hostname "$host")" ] || fail "$host is called $name"
    [ "$home" = "$(testlan_home "$host")" ] && [ -d "$home" ] || fail "$host has HOME $home"
    [ -z "${names[$name]:-}" ] && [ -z "${homes[$home]:-}" ] || fail "$host shares name or HOME"
    names[$name]=1
    homes[$home]=1
done
[ "$(hostname)" != "$(testlan_hostname h1)" ] || fail "the caller's hostname changed"

testlan_spawn h2 sleep 600
sleeper=$TESTLAN_LAST_PID
lan_dir=$TESTLAN_DIR
testlan_down
[ "$(namespaces_of "$id")" -eq 0 ] || fail "namespaces left after teardown"
[ "$(veth_count)" -eq "$veths_before" ] || fail "veth interfaces left after teardown"
! kill -0 "$sleeper" 2>/dev/null || fail "a process on a host survived teardown"
[ ! -e "$lan_dir" ] || fail "home folders left after teardown"

# A script that fails half way, and one stopped by TERM, still tear their LAN down.
child_script='source "$1"; set -e; testlan_up 2; testlan_spawn h1 sleep 600; echo "$TESTLAN_ID"'
failing_id=$(bash -c "$child_script; false" child "$here/testlan.sh") && fail "child succeeded"
[ -n "$failing_id" ] && [ "$(namespaces_of "$failing_id")" -eq 0 ] ||
    fail "a failing script left its LAN ($failing_id)"

id_file=$(mktemp)
bash -c "$child_script >\"\$2\"; wait" child "$here/testlan.sh" "$id_file" &
child=$!
for ((tries = 0; tries < 100; tries++)); do
    [ ! -s "$id_file" ] || break
    sleep 0.1
done
stopped_id=$(cat "$id_file")
rm -f "$id_file"
[ -n "$stopped_id" ] || fail "the stopped child never brought its LAN up"
kill -TERM "$child"
wait "$child" && fail "the stopped child exited successfully"
[ "$(namespaces_of "$stopped_id")" -eq 0 ] || fail "a stopped script left its LAN ($stopped_id)"

echo "test LAN: all checks passed"
