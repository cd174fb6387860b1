#!/usr/bin/env bash
# Discovery where broadcasts do not pass (each host's firewall drops them), with velto-cli:
#   1. "peers" on h1 does not find the receiver on h2: the broadcasts really are dropped;
#   2. "hello h2" on h1 is answered, and h2's receiver lists h1;
#   3. from then on every "peers" on h1 greets h2 by itself (the address is remembered) and
#      lists it, and its goodbye reaches h2 (unicast);
#   4. after "hello --forget h2", "peers" on h1 no longer finds h2, and the hello sent nothing.
# Usage: discovery-no-broadcast.sh PATH-TO-velto-cli
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=transfer-lib.sh
source "$here/transfer-lib.sh" "$(realpath "$1")"

testlan_up 2
h1=$(testlan_ip h1) h2=$(testlan_ip h2)
for h in h1 h2; do testlan_drop_broadcasts "$h" || fail "cannot drop broadcasts on $h"; done
start=$EPOCHREALTIME

# The peers that "velto-cli peers" on h1 lists, one address a line.
peers_of_h1() {
    testlan_exec h1 "$VELTO_CLI" peers --json --wait 1 |
        python3 -c 'import json, sys; print("\n".join(json.load(sys.stdin)))'
}

start_receiver h2
echo "== 1: broadcasts are dropped"
[ -z "$(peers_of_h1)" ] || fail "h1 found h2 although broadcasts are dropped"

echo "== 2: a hello by address is answered both ways"
testlan_exec h1 "$VELTO_CLI" hello "$h2" || fail "velto-cli hello $h2 got no answer"
wait_for_event h2 "\"data\":{\"key\":\"$h1\".*\"event\":\"peer-added\"" 2

echo "== 3: h2 is greeted again by every later start on h1, and told goodbye"
[ "$(peers_of_h1)" = "$h2" ] || fail "velto-cli peers on h1 does not list $h2"
wait_for_event h2 "\"data\":{\"key\":\"$h1\"}.*\"event\":\"peer-removed\"" 2
python3 -c 'import json, sys; sys.exit(json.load(open(sys.argv[1]))["addedAddresses"] != sys.argv[2:])' \
    "$(testlan_home h1)/.config/velto/settings.json" "$h2" || fail "h1's settings file does not hold $h2"

echo "== 4: a forgotten address is greeted no more"
added=$(count_events h2 peer-added)
testlan_exec h1 "$VELTO_CLI" hello --forget "$h2" || fail "velto-cli hello --forget failed"
[ -z "$(peers_of_h1)" ] || fail "h1 still greets $h2 after forgetting it"
[ "$(count_events h2 peer-added)" = "$added" ] || fail "h2 heard from h1 after the forget"
printf 'discovery without broadcasts: all held (%.1f s)\n' \
    "$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }')"
