#!/usr/bin/env bash
# Two Velto programs on the test LAN, each under its own Xvfb in its own network namespace:
# the first sends a text and a folder to the second through the page's own commands, and both
# windows are captured as PNG files in docs/screenshots/ (empty state, conversations with
# finished transfers, peer lists with avatars, dark theme, the taken-port message, the notice
# of a close without a tray), the chat-history menus with the preview window from the
# program's menu test, the question, settings and cancelled transfer of the receiving-control
# scenario, and the firewall hint and the send picker of the desktop scenario.
# Also checks, and prints, that the folder arrived whole in the receiver's Downloads, that a
# closed window leaves the program running and receiving, that a second launch hands over to the
# running program and shows its window again, that a taken port ends the program with its
# message, and that quitting sends one goodbye.
#
#   bash scripts/screenshots.sh          (as root; nothing reaches the machine's real network)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/docs/screenshots
mkdir -p "$out"

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target velto -j2
velto=$root/build/default/app/velto

# shellcheck source=../tests/testlan/testlan.sh
source tests/testlan/testlan.sh
testlan_up 2
ip1=$(testlan_ip h1)
ip2=$(testlan_ip h2)

failures=0
check() {  # check DESCRIPTION COMMAND...
    if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}

# The program on a host under its own Xvfb, and its page: start, page, shoot.
VELTO_APP=$velto
# shellcheck source=../tests/e2e/app-lib.sh
source tests/e2e/app-lib.sh
start() { app_start "$@"; }
page() { app_page "$@"; }
# say HOST PEER-IP TEXT: types the text in that conversation's box and presses Enter.
say() {
    page "$1" eval "{ Velto.app.select('$2'); const box = document.getElementById('message-input');
        box.value = '$3'; box.dispatchEvent(new KeyboardEvent('keydown', {key: 'Enter', bubbles: true})); }
        true" >/dev/null
}
shoot() { app_shoot "$1" "$2" "$out/$3"; echo "     $out/$3"; }

# The second user has a picture; the first shows initials.
/usr/bin/convert -size 256x256 radial-gradient:'#ffd89b'-'#e0735a' \
    -fill '#ffffff' -draw 'circle 128 104 128 62' -draw 'ellipse 128 250 78 70 180 360' \
    png:"$(testlan_home h2)/.face"

start h1 91 "Ann Lee"
pid1=$TESTLAN_LAST_PID
page h1 wait "document.body.classList.contains('ready')"
sleep 1
shoot h1 91 01-empty-state.png

start h2 92 "Ben Ortiz"
page h2 wait "document.body.classList.contains('ready')"
page h1 wait "Velto.app.state.peers.has('$ip2') && Boolean(Velto.app.state.peers.get('$ip2').avatar)"
page h2 wait "Velto.app.state.peers.has('$ip1')"

folder="$(testlan_home h1)/Project notes"
mkdir -p "$folder/drafts"
head -c 4000000 /dev/urandom >"$folder/measurements.bin"
printf 'Meeting on Thursday.\n' >"$folder/agenda.txt"
printf 'First draft.\n' >"$folder/drafts/outline.md"

say h1 "$ip2" "Here are the notes from today, and the measurements."
# The folder goes over a slowed link, so that its progress can be seen on the way.
slowed=false
testlan_exec h1 tc qdisc add dev eth0 root tbf rate 8mbit burst 32kbit latency 400ms && slowed=true
page h1 eval "Velto.app.sendFiles('$ip2', [$(printf '%s' "$folder" | python3 -c 'import json,sys; print(json.dumps(sys.stdin.read()))')]); true" >/dev/null
if $slowed; then
    page h1 wait "Velto.app.state.history.messages('$ip2').some(m => m.kind === 'files' &&
        m.progress && m.progress.byteFinished > 0.3 * m.progress.byteCount)" 30
    sleep 0.5
    shoot h1 91 07-sending-progress.png
    testlan_exec h1 tc qdisc del dev eth0 root
fi
page h2 wait "Velto.app.state.history.messages('$ip1').filter(m => m.state === 'done').length === 2"
page h1 wait "Velto.app.state.history.messages('$ip2').filter(m => m.state === 'done').length === 2"
say h2 "$ip1" "Got them, thank you!"
page h1 wait "Velto.app.state.history.messages('$ip2').filter(m => m.state === 'done').length === 3"
page h1 eval "document.getElementById('messages').blur(); true" >/dev/null
sleep 1

check "the folder arrived whole in the receiver's Downloads" \
    diff -r "$folder" "$(testlan_home h2)/Downloads/Project notes"
check "the receiver's page shows the text" test "$(page h2 eval \
    "Velto.app.state.history.messages('$ip1').some(m => m.kind === 'text' && m.dir === 'in' && m.state === 'done')")" = true
shoot h1 91 02-sender-conversation.png
shoot h2 92 03-receiver-conversation.png
# The dark look lasts as long as the debugging session that asks for it.
page h2 dark env DISPLAY=:92 import -window root "$out/04-receiver-dark.png"
echo "     $out/04-receiver-dark.png"

# A closed window leaves the program running and receiving; launching it again shows the window.
# There is no tray here, so the first close says so in the window; Enter keeps it receiving.
velto_window() { testlan_exec "$1" env DISPLAY=":$2" xdotool search --onlyvisible --name '^Velto$'; }
window=$(velto_window h2 92 | head -1)
testlan_exec h2 env DISPLAY=:92 xdotool windowfocus --sync "$window" key ctrl+w
sleep 1
check "ctrl+w without a tray says that Velto keeps receiving" test -n "$(velto_window h2 92 || true)"
shoot h2 92 13-closing-without-tray.png
testlan_exec h2 env DISPLAY=:92 xdotool key Return
sleep 1
check "and then closes the window" test -z "$(velto_window h2 92 || true)"
say h1 "$ip2" "Still there?"
check "the closed program still receives" page h2 wait \
    "Velto.app.state.history.messages('$ip1').some(m => m.text === 'Still there?')" 30
check "a second launch hands over and exits 0" testlan_exec h2 env DISPLAY=:92 \
    XDG_RUNTIME_DIR="$(testlan_home h2)/run" QTWEBENGINE_DISABLE_SANDBOX=1 timeout 20 "$velto"
sleep 1
check "and the window is back" test -n "$(velto_window h2 92 || true)"

# Another instance that does not find the first (other runtime folder) cannot have the ports.
start h1 91 "Ann Lee" run-second
pid_second=$TESTLAN_LAST_PID
sleep 6
shoot h1 91 05-port-taken.png
testlan_exec h1 env DISPLAY=:91 xdotool key Return
status=0
wait "$pid_second" || status=$?
check "a taken port shows its message and ends the program (status $status)" test "$status" = 1
check "the message is the fixed one" grep -q "cannot put their ears on the UDP port 4644" \
    "$(testlan_home h1)/velto-run-second.log"

# Quitting sends one goodbye, which the other program hears.
capture="$(testlan_home h2)/goodbye.pcap"
testlan_spawn h2 tcpdump -i eth0 -n -U -w "$capture" "udp port 4644 and src host $ip1"
pid_dump=$TESTLAN_LAST_PID
sleep 1
kill -TERM "$pid1"
wait "$pid1" || true
page h2 wait "!Velto.app.state.peers.has('$ip1')" 20
sleep 1
kill -INT "$pid_dump"
wait "$pid_dump" 2>/dev/null || true
goodbyes=$(testlan_exec h2 tcpdump -r "$capture" -n 'udp[8] = 3' 2>/dev/null | wc -l)
check "quitting sent one goodbye ($goodbyes seen)" test "$goodbyes" = 1
shoot h2 92 06-receiver-after-goodbye.png

# The chat-history menu on received files, our own preview window and the dark theme with a menu
# and the file dialog, as the menu test shows them; a folder message, a right-to-left
# conversation, failed messages with Retry and thirty computers with the search box in use,
# as the page test shows them.
cmake --build --preset default --target velto_app_tests -j2
captures=$(mktemp -d)
for test_class in ContextMenuTest PageLogicTest; do
    check "$test_class passes and leaves its captures" unshare --net --fork -- bash -c "
        ip link set lo up && VELTO_TEST_SCREENSHOTS='$captures' xvfb-run -a -s '-screen 0 1280x800x24' \
        dbus-run-session --config-file='$root/app/tests/support/session-bus.conf' -- '$root/build/default/app/tests/velto_app_tests' $test_class >/dev/null"
done
for capture in menu-on-received-files:08 preview-picture:09 preview-text:10 preview-other:11 \
    menu-on-received-text:12 dark-menu:17 dark-file-dialog:18 folder-message:19 right-to-left:20 \
    failed-with-retry:21 dark-preview:22 peer-search:25; do
    name=${capture%:*}
    [ -f "$captures/$name.png" ] && mv "$captures/$name.png" "$out/${capture#*:}-$name.png" &&
        echo "     $out/${capture#*:}-$name.png"
done
rm -rf "$captures"

# What arrives and from whom: a question in the conversation, the receiving settings and a
# cancelled transfer, from the scenario that checks them (on a test LAN of its own).
testlan_down
cmake --build --preset default --target velto-cli -j2
check "the receiving-control scenario passes and leaves its captures" \
    bash tests/e2e/app-receive-control.sh "$velto" "$root/build/default/cli/velto-cli" "$out"
# The firewall hint of the empty state and the picker of `velto --send`.
check "the desktop scenario passes and leaves its captures" \
    bash tests/e2e/app-desktop.sh "$velto" "$root/build/default/cli/velto-cli" "$out"

echo
if [ "$failures" -eq 0 ]; then echo "screenshots: all checks passed"; else echo "screenshots: $failures check(s) failed"; fi
exit "$failures"
