#!/usr/bin/env bash
# The user's control over what arrives, in the desktop program (h2), with velto-cli sending
# from h1. h2 has a session bus and a real notification server (dunst) whose context menu is a
# script that picks the action named in ~/menu-choice.
#   1. Ask: a folder from h1 waits in h2's conversation with Accept and Decline; Accept in the
#      page saves it whole and the send succeeds;
#   2. the question's notification carries Accept and Decline: each, chosen in the notification
#      server's menu, reaches the program (Decline: nothing saved, the send fails; Accept: the
#      file arrives);
#   3. a question nobody answers ends at its (shortened) deadline, nothing saved;
#   4. the settings sheet: "Everyone" chosen in the page is written to the shared settings file;
#   5. Cancel on a file arriving over a slowed link: h2 shows it cancelled, h1's send fails,
#      nothing partial is left; the receiver then still takes the next transfer;
#   6. a receiving folder chosen in the page takes the next transfer; Downloads stays as it was;
#   7. "Visible to others" off in the page: a third host's velto-cli peers no longer lists h2;
#      on again, it does;
#   8. Block in the conversation header: the settings file lists h1, and h1's next send fails.
# With a folder as second argument, the question, the settings sheet and the cancelled transfer
# are captured there as PNG files.
# Usage: app-receive-control.sh PATH-TO-velto PATH-TO-velto-cli [SCREENSHOT-FOLDER]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
VELTO_APP=$(realpath "$1")
cli=$(realpath "$2")
shots=${3:-}
# shellcheck source=../testlan/testlan.sh
source "$here/../testlan/testlan.sh"
# shellcheck source=app-lib.sh
source "$here/app-lib.sh"

fail() { app_fail "$@"; }
app_need_root
command -v dunst >/dev/null || { echo "dunst is not installed; skipped"; exit 77; }

testlan_up 3
ip1=$(testlan_ip h1) ip2=$(testlan_ip h2)
home1=$(testlan_home h1) home2=$(testlan_home h2)
downloads=$home2/Downloads
mkdir -p "$downloads"
shoot() { [ -z "$shots" ] || { app_shoot h2 97 "$shots/$1"; echo "     $shots/$1"; }; }
page() { app_page h2 "$@"; }
# The newest message of h1's conversation on h2, as "state" or any expression of m.
newest() { page eval "(() => { const m = Velto.app.state.history.messages('$ip1').at(-1); return m ? $1 : null; })()"; }
downloads_empty_of_hidden() { [ -z "$(find "$downloads" -mindepth 1 -maxdepth 1 -name '.*')" ]; }

# h2: a session bus, dunst on the host's screen, then the program in Ask mode.
export VELTO_QUESTION_TIMEOUT=8
testlan_exec h2 "$cli" config set receive-mode ask >/dev/null || fail "cannot choose Ask"
bus="unix:path=$home2/bus"
testlan_spawn h2 dbus-daemon --session --nofork --address="$bus"
testlan_spawn h2 Xvfb :97 -screen 0 980x660x24 -nolisten tcp
for _ in $(seq 100); do [ -e /tmp/.X11-unix/X97 ] && [ -S "$home2/bus" ] && break; sleep 0.1; done
printf '#!/bin/sh\ngrep -m1 "^#$(cat %s/menu-choice) " \n' "$home2" >"$home2/menu.sh"
chmod +x "$home2/menu.sh"
printf '[global]\ndmenu = %s/menu.sh\n' "$home2" >"$home2/dunstrc"
export DBUS_SESSION_BUS_ADDRESS=$bus
testlan_spawn h2 env DISPLAY=:97 dunst -config "$home2/dunstrc"
app_start h2 97 "Ben Ortiz"
page wait "document.body.classList.contains('ready') && Velto.app.state.peers.has('$ip1') === false" >/dev/null ||
    fail "the program did not come up"
# h1 announces itself, so that h2 lists it by name.
testlan_spawn h1 "$cli" peers --wait 600 >/dev/null 2>&1
page wait "Velto.app.state.peers.has('$ip1')" 20 >/dev/null || fail "h2 does not list h1"
page eval "Velto.app.select('$ip1'); true" >/dev/null

folder=$home1/Holiday
mkdir -p "$folder/day 1"
head -c 300000 /dev/urandom >"$folder/day 1/beach.jpg"
echo "itinerary" >"$folder/plan.txt"

# send_from_h1 NAME PATH...: a send in the background, its exit status in ~/NAME.status of h1.
send_from_h1() {
    local name=$1
    rm -f "$home1/$name.status"
    testlan_spawn h1 sh -c '"$@" >"$HOME/'"$name"'.out" 2>&1; echo $? >"$HOME/'"$name"'.status"' \
        send "$cli" send "$ip2" "${@:2}"
}
send_status() {  # waits (30 s) for the send's exit status
    for _ in $(seq 300); do [ -s "$home1/$1.status" ] && { cat "$home1/$1.status"; return; }; sleep 0.1; done
    echo timeout
}

echo "== 1: Accept in the page"
send_from_h1 accepted "$folder"
page wait "(Velto.app.state.history.messages('$ip1').at(-1) || {}).state === 'asking'" 20 >/dev/null ||
    fail "no question in the conversation"
[ -z "$(ls -A "$downloads")" ] || fail "something was stored before the answer: $(ls -A "$downloads")"
sleep 0.5
shoot 14-question.png
page eval "document.querySelector('.message.asking button[data-action=accept]').click(); true" >/dev/null
[ "$(send_status accepted)" = 0 ] || fail "the accepted send did not succeed: $(cat "$home1/accepted.out")"
page wait "(Velto.app.state.history.messages('$ip1').at(-1) || {}).state === 'done'" 20 >/dev/null ||
    fail "the accepted transfer did not end as received"
diff -r "$folder" "$downloads/Holiday" || fail "the accepted folder is not whole"

echo "== 2: Decline and Accept in the notification"
echo Decline >"$home2/menu-choice"
send_from_h1 declined "$folder/plan.txt"
page wait "(Velto.app.state.history.messages('$ip1').at(-1) || {}).state === 'asking'" 20 >/dev/null ||
    fail "no second question"
sleep 1  # the notification is shown
testlan_exec h2 env DISPLAY=:97 dunstctl context || fail "dunstctl context failed"
page wait "['declined', 'failed'].includes((Velto.app.state.history.messages('$ip1').at(-1) || {}).state)" 10 \
    >/dev/null || fail "the notification's Decline did not reach the program"
[ "$(send_status declined)" != 0 ] || fail "a declined send was reported as sent"
[ ! -e "$downloads/plan.txt" ] && downloads_empty_of_hidden || fail "a declined transfer left something"

echo Accept >"$home2/menu-choice"
echo "from the notification" >"$home1/note.txt"
send_from_h1 notified "$home1/note.txt"
page wait "(Velto.app.state.history.messages('$ip1').at(-1) || {}).state === 'asking'" 20 >/dev/null ||
    fail "no question for the notification's Accept"
sleep 1
testlan_exec h2 env DISPLAY=:97 dunstctl context || fail "dunstctl context failed"
[ "$(send_status notified)" = 0 ] && cmp -s "$home1/note.txt" "$downloads/note.txt" ||
    fail "the notification's Accept did not reach the program"
page wait "(Velto.app.state.history.messages('$ip1').at(-1) || {}).state === 'done'" 10 >/dev/null ||
    fail "the page does not show the transfer accepted in the notification as received"

echo "== 3: a question left unanswered"
send_from_h1 unanswered "$folder/plan.txt"
page wait "(Velto.app.state.history.messages('$ip1').at(-1) || {}).state === 'asking'" 20 >/dev/null ||
    fail "no third question"
[ "$(send_status unanswered)" != 0 ] || fail "an unanswered send was reported as sent"
page wait "(Velto.app.state.history.messages('$ip1').at(-1) || {}).state === 'failed'" 10 >/dev/null ||
    fail "the unanswered question did not end"
[ ! -e "$downloads/plan.txt" ] && downloads_empty_of_hidden || fail "an unanswered transfer left something"

echo "== 4: the settings sheet"
page eval "document.getElementById('receive-status').click(); true" >/dev/null
page wait "document.getElementById('settings-dialog').open" 5 >/dev/null || fail "the settings did not open"
page eval "document.querySelector('#receive-modes input[value=everyone]').click(); true" >/dev/null
for _ in $(seq 50); do
    [ "$(testlan_exec h2 "$cli" config get receive-mode)" = everyone ] && break
    sleep 0.1
done
[ "$(testlan_exec h2 "$cli" config get receive-mode)" = everyone ] || fail "the page's choice was not saved"
sleep 0.5
shoot 15-settings.png
page eval "document.getElementById('settings-done').click(); true" >/dev/null

echo "== 5: Cancel on an incoming file"
truncate -s 200M "$home1/big.bin"
testlan_exec h1 tc qdisc add dev eth0 root tbf rate 40mbit burst 64kbit latency 400ms ||
    fail "cannot slow h1's link"
send_from_h1 cancelled "$home1/big.bin"
page wait "(() => { const m = Velto.app.state.history.messages('$ip1').at(-1);
    return m && m.state === 'active' && m.progress && m.progress.byteFinished > 0; })()" 30 >/dev/null ||
    fail "the big file does not arrive"
page eval "document.querySelector('.message.active button[data-action=cancel]').click(); true" >/dev/null
page wait "(Velto.app.state.history.messages('$ip1').at(-1) || {}).state === 'cancelled'" 10 >/dev/null ||
    fail "the cancelled transfer does not show as cancelled"
[ "$(send_status cancelled)" != 0 ] || fail "a cancelled send was reported as sent"
testlan_exec h1 tc qdisc del dev eth0 root
[ ! -e "$downloads/big.bin" ] && downloads_empty_of_hidden || fail "a cancelled transfer left something"
sleep 0.5
shoot 16-cancelled.png
send_from_h1 after "$folder/plan.txt"
[ "$(send_status after)" = 0 ] && cmp -s "$folder/plan.txt" "$downloads/plan.txt" ||
    fail "the receiver does not take the next transfer"

echo "== 6: a receiving folder chosen in the page"
chosen=$home2/Inbox
mkdir -p "$chosen"
before=$(ls -A "$downloads")
page eval "Velto.bridge.callHandler('velto', {command: 'setSetting',
    data: {key: 'receive-folder', value: '$chosen'}}, () => {}); true" >/dev/null
for _ in $(seq 50); do
    [ "$(testlan_exec h2 "$cli" config get receive-folder)" = "$chosen" ] && break
    sleep 0.1
done
sleep 1  # the running program follows the file within a poll
send_from_h1 chosen "$folder/plan.txt"
[ "$(send_status chosen)" = 0 ] && cmp -s "$folder/plan.txt" "$chosen/plan.txt" ||
    fail "the chosen folder did not take the transfer"
[ "$(ls -A "$downloads")" = "$before" ] || fail "Downloads changed: $(ls -A "$downloads")"

echo "== 7: visible to others, off and on"
peers_of_h3() { testlan_exec h3 "$cli" peers --json --wait 3 | jq -r 'keys[]'; }
page eval "document.getElementById('receive-status').click(); true" >/dev/null
page eval "document.getElementById('visible-setting').click(); true" >/dev/null
sleep 1.5
peers_of_h3 | grep -qx "$ip2" && fail "h3 still sees h2 when it is not visible"
page eval "document.getElementById('visible-setting').click();
    document.getElementById('settings-done').click(); true" >/dev/null
sleep 1.5
peers_of_h3 | grep -qx "$ip2" || fail "h3 does not see h2 once it is visible again"

echo "== 8: Block in the header"
page eval "document.getElementById('block-peer').click(); true" >/dev/null
for _ in $(seq 50); do
    testlan_exec h2 "$cli" config get | grep -q "$ip1" && break
    sleep 0.1
done
testlan_exec h2 "$cli" config get | grep -q "$ip1" || fail "the block was not saved"
page wait "!Velto.app.state.peers.has('$ip1')" 5 >/dev/null || fail "a blocked computer stays in the list"
send_from_h1 blocked --text "hello?"
[ "$(send_status blocked)" != 0 ] || fail "a send to a host that blocks us was reported as sent"

echo "PASS"
