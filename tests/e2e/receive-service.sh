#!/usr/bin/env bash
# The user service velto-receive, as systemd would run it: its ExecStart line on h1, standard
# input from /dev/null, output to a file (the journal). h2 sees h1 arrive; TERM (systemd's stop)
# makes h1 say goodbye, which h2 hears, and exit 0; the output is plain lines.
# Usage: receive-service.sh PATH-TO-velto-cli PATH-TO-velto-receive.service
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=transfer-lib.sh
source "$here/transfer-lib.sh" "$(realpath "$1")"
unit=$2

# The command line, with the installed velto-cli replaced by the one under test.
read -r -a command <<<"$(sed -n 's/^ExecStart=//p' "$unit")"
[[ ${command[0]:-} == */velto-cli ]] || fail "ExecStart does not run velto-cli: ${command[*]}"
command[0]=$VELTO_CLI

testlan_up 2
ip1=$(testlan_ip h1)
output=$(testlan_home h1)/journal
start_receiver h2
testlan_spawn h1 "${command[@]}" </dev/null >"$output" 2>&1
service=$TESTLAN_LAST_PID
wait_for_listener h1
wait_for_event h2 "\"data\":{\"key\":\"$ip1\".*\"event\":\"peer-added\"" 10

kill -TERM "$service"
status=0
wait "$service" || status=$?
[ "$status" -eq 0 ] || fail "the service exited with status $status after TERM"
wait_for_event h2 "\"data\":{\"key\":\"$ip1\"}.*\"event\":\"peer-removed\"" 5
grep -q '^Receiving into ' "$output" || fail "the service printed no start line: $(cat "$output")"
! grep -q $'[\e\r]' "$output" || fail "the service's output is not plain lines"
echo "receive service: started, seen, stopped by TERM with a goodbye, status 0"
