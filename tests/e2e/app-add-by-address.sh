#!/usr/bin/env bash
# "Add by address" in the desktop program where every host drops incoming broadcasts:
#   1. two programs (h1, h2) do not find each other by themselves;
#   2. h1's user adds h2 in the page's dialog: both list each other within two seconds;
#   3. h1 quits: its goodbye reaches h2 (unicast); h2 quits too;
#   4. both start again, h1 first: they list each other with no user action, as h1 greets the
#      address it remembers at every start and every 10 s after;
#   5. a malformed address is refused in the dialog, in words.
# The dialog with its refusal and the added address is captured (PNG, second argument).
# Usage: app-add-by-address.sh PATH-TO-velto [PNG]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
VELTO_APP=$(realpath "$1")
capture=${2:-$PWD/app-add-by-address.png}
# shellcheck source=../testlan/testlan.sh
source "$here/../testlan/testlan.sh"
# shellcheck source=app-lib.sh
source "$here/app-lib.sh"

fail() {
    echo "FAIL: $*" >&2
    for h in h1 h2; do tail -5 "$(testlan_home "$h")/velto-run.log" >&2 || true; done
    exit 1
}
if [ "$(id -u)" -ne 0 ]; then
    echo "the test LAN needs root; skipped"
    exit 77
fi

testlan_up 2
ip1=$(testlan_ip h1) ip2=$(testlan_ip h2)
for h in h1 h2; do testlan_drop_broadcasts "$h" || fail "cannot drop broadcasts on $h"; done

# Starts the program on a host and waits until its page is ready; its pid in $pid_<host>.
launch() {
    app_start "$1" "$2" "User of $1"
    printf -v "pid_$1" %s "$TESTLAN_LAST_PID"
    app_page "$1" wait "document.body.classList.contains('ready')" >/dev/null ||
        fail "the program on $1 did not come up"
}
online() { app_page "$1" eval "Velto.app.state.peers.has('$2')"; }
# Makes the page note the clock (ms) at which it first lists the address; seen_at reads it.
watch_for() {
    app_page "$1" eval "window.__seen = new Promise((resolve) => { const tick = () =>
        Velto.app.state.peers.has('$2') ? resolve(Date.now()) : setTimeout(tick, 5); tick(); }); true" \
        >/dev/null
}
seen_at() {
    app_page "$1" eval "Promise.race([window.__seen, new Promise((r) => setTimeout(() => r(0), 5000))])"
}
quit() {
    local pid_var="pid_$1"
    kill -TERM "${!pid_var}"
    wait "${!pid_var}" || fail "the program on $1 did not quit cleanly"
}

echo "== 1: broadcasts are dropped"
launch h1 95
launch h2 96
sleep 1
if [ "$(online h1 "$ip2")" != false ] || [ "$(online h2 "$ip1")" != false ]; then
    fail "the programs found each other although broadcasts are dropped"
fi

echo "== 2: h1 adds h2 by address in the page"
watch_for h2 "$ip1"
watch_for h1 "$ip2"
sent=$(app_page h1 eval "{ document.getElementById('add-by-address').click();
    document.querySelector('#address-form [name=ip]').value = '$ip2';
    document.getElementById('address-form').requestSubmit(); Date.now(); }")
seen1=$(seen_at h1)
seen2=$(seen_at h2)
((seen1 > 0)) || fail "h1 does not list h2 after adding it"
((seen2 > 0)) || fail "h2 does not list h1 after h1 added it"
app_page h1 wait "document.getElementById('address-status').textContent.endsWith('answered.')" 5 \
    >/dev/null || fail "the dialog does not say that $ip2 answered"
echo "h1 lists h2 after $((seen1 - sent)) ms, h2 lists h1 after $((seen2 - sent)) ms"
((seen1 - sent <= 2000 && seen2 - sent <= 2000)) || fail "not listed within two seconds"

echo "== 3: quitting says goodbye to the added address"
quit h1
app_page h2 wait "!Velto.app.state.peers.has('$ip1')" 5 >/dev/null ||
    fail "h2 did not hear h1's goodbye"
quit h2

echo "== 4: after a restart they find each other with no user action"
# h1 first: its greeting at start finds nobody; the next one (every 10 s) finds h2.
launch h1 95
launch h2 96
app_page h1 wait "Velto.app.state.peers.has('$ip2')" 15 >/dev/null || fail "h1 does not list h2"
app_page h2 wait "Velto.app.state.peers.has('$ip1')" 5 >/dev/null || fail "h2 does not list h1"

echo "== 5: a malformed address is refused in words"
refusal=$(app_page h1 eval "{ document.getElementById('add-by-address').click();
    document.querySelector('#address-form [name=ip]').value = '10.77.0.012';
    document.getElementById('address-form').requestSubmit();
    document.getElementById('address-status').textContent }")
[ "$refusal" = '"That is not an IPv4 address like 192.168.1.20."' ] || fail "refusal: $refusal"
app_page h1 wait "document.querySelectorAll('#added-addresses li').length === 1" 5 >/dev/null ||
    fail "the dialog does not list the added address"
app_shoot h1 95 "$capture"
quit h1
quit h2
echo "add by address in the program: all held"
