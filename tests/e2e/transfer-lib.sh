# shellcheck shell=bash
# Helpers for the transfer scenarios: receivers on test LAN hosts, tree fingerprints, waits.
# Source with the velto-cli to run as argument; skips (77) where the test LAN cannot be had.

VELTO_CLI=$1
# shellcheck source=../testlan/testlan.sh
source "$(dirname "${BASH_SOURCE[0]}")/../testlan/testlan.sh"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

if [ "$(id -u)" -ne 0 ]; then
    echo "the test LAN needs root; skipped"
    exit 77
fi

downloads_of() { echo "$(testlan_home "$1")/Downloads"; }

wait_for_listener() { testlan_wait_for_port "$1" t 4644 || fail "no receiver listens on $1"; }

# Starts "velto-cli receive --json" on a host, its events in $(testlan_home host)/events and its
# standard error in receiver.err; options after the host go before "receive" (-v: diagnostics).
start_receiver() {
    local host=$1
    testlan_spawn "$host" "$VELTO_CLI" "${@:2}" receive --json >"$(testlan_home "$host")/events" \
        2>"$(testlan_home "$host")/receiver.err"
    wait_for_listener "$host"
}

# Polls (at most $3 seconds, default 60) until the host's event log has a line matching $2.
wait_for_event() {
    local host=$1 pattern=$2 limit=${3:-60} tries
    for ((tries = 0; tries < limit * 10; tries++)); do
        grep -q -- "$pattern" "$(testlan_home "$host")/events" && return 0
        sleep 0.1
    done
    fail "no event matching $pattern on $host"
}

count_events() { grep -c -- "\"event\":\"$2\"" "$(testlan_home "$1")/events" || true; }

# Types, relative names and contents of everything under a folder, one line each.
fingerprint() {
    (cd "$1" && find . -mindepth 1 -printf '%y %s %P\n' | sort &&
        find . -type f -print0 | sort -z | xargs -0 -r sha256sum)
}

# Sends from a host to h2's receiver, expects velto-cli to succeed, and waits until the
# receiver has published the result; what the sender printed is in $(testlan_home host)/sent.
send_ok() {
    local host=$1 before tries
    shift
    before=$(count_events h2 transfer-finished)
    testlan_exec "$host" "$VELTO_CLI" send "$@" >"$(testlan_home "$host")/sent" ||
        fail "send $* from $host failed"
    for ((tries = 0; tries < 600; tries++)); do
        [ "$(count_events h2 transfer-finished)" -gt "$before" ] && return 0
        [ "$(count_events h2 transfer-failed)" -eq 0 ] || fail "h2 failed to receive $*"
        sleep 0.1
    done
    fail "h2 did not finish receiving $*"
}

# Starts sending a sparse 4 GiB big.bin from h1 to h2 (its process in SENDER) and waits until
# more than 1 MiB of it is in h2's intermediate folder (its path in PARTIAL).
# shellcheck disable=SC2034  # both are for the caller
start_big_send() {
    local tries
    truncate -s 4G "$(testlan_home h1)/big.bin"
    testlan_spawn h1 "$VELTO_CLI" send "$(testlan_ip h2)" "$(testlan_home h1)/big.bin"
    SENDER=$TESTLAN_LAST_PID
    wait_for_event h2 '"filename":"big.bin"'
    for ((tries = 0; tries < 100; tries++)); do
        PARTIAL=$(find "$(downloads_of h2)" -path '*/.VeltoTransferIntermediateStorage*/big.bin' \
            -size +1M 2>/dev/null | head -n 1)
        [ -z "$PARTIAL" ] || return 0
        sleep 0.1
    done
    fail "the body never started to arrive"
}

# Nothing but these names (and no intermediate folder) may be in the host's Downloads.
expect_downloads() {
    local host=$1
    shift
    local actual expected
    actual=$(ls -A "$(downloads_of "$host")" | sort)
    expected=$(printf '%s\n' "$@" | sed '/^$/d' | sort)
    [ "$actual" = "$expected" ] || fail "Downloads of $host holds [$actual], expected [$expected]"
}
