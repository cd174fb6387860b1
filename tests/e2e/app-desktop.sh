#!/usr/bin/env bash
# The program on the desktop, on h2 (with a session bus), with h1 as the other computer:
#   1. started with --autostart where a tray answers, the window stays hidden, also when a second
#      --autostart finds it running;
#   2. "Start Velto when I log in" writes the autostart entry (Exec with --autostart) and
#      removes it again;
#   0. h2 drops incoming UDP 4644: its velto-cli peers hears nobody and prints the firewall hint;
#   3. h1's velto-cli peers does not see h2's program, whose empty state shows the firewall hint
#      after the (shortened) quiet time;
#   4. a second launch shows the window;
#   5. the rule gone and h1 receiving, the hint goes once h1 is heard; `velto --send a b` on h2
#      opens the picker; Enter on h1 sends both, which arrive whole;
#   6. with no tray, --autostart shows the window.
# With a folder as second argument, the firewall hint and the picker are captured there.
# Usage: app-desktop.sh PATH-TO-velto PATH-TO-velto-cli [SCREENSHOT-FOLDER]
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
/usr/bin/python3 -c 'import dbus, gi' 2>/dev/null || { echo "python3-dbus/gi missing; skipped"; exit 77; }

testlan_up 2
ip1=$(testlan_ip h1) ip2=$(testlan_ip h2)
home1=$(testlan_home h1) home2=$(testlan_home h2)
shoot() { [ -z "$shots" ] || { app_shoot h2 97 "$shots/$1"; echo "     $shots/$1"; }; }
page() { app_page h2 "$@"; }
window_shown() { testlan_exec h2 env DISPLAY=:97 xdotool search --onlyvisible --class velto >/dev/null; }
launch() {
    app_start h2 97 "Grace Hopper" run "$@"
    pid=$TESTLAN_LAST_PID
    page wait "document.body.classList.contains('ready')" >/dev/null || fail "the program did not come up"
}

export VELTO_FIREWALL_HINT_SECONDS=3
export DBUS_SESSION_BUS_ADDRESS="unix:path=$home2/bus"
testlan_spawn h2 dbus-daemon --session --nofork --address="$DBUS_SESSION_BUS_ADDRESS"
for _ in $(seq 100); do [ -S "$home2/bus" ] && break; sleep 0.1; done
testlan_spawn h2 /usr/bin/python3 "$here/tools/fake_tray.py"
tray=$TESTLAN_LAST_PID
tray_up() {
    testlan_exec h2 dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.kde.StatusNotifierWatcher 2>/dev/null |
        grep -q "boolean true"
}
for _ in $(seq 100); do tray_up && break; sleep 0.1; done
tray_up || fail "the stand-in tray did not come up"
testlan_exec h2 nft -f - <<'RULES'
table inet velto_test_firewall {
    chain input { type filter hook input priority 0; udp dport 4644 drop; }
}
RULES

echo "== 0: velto-cli behind a firewall that drops the announcements"
# Before the program takes the ports.
testlan_exec h2 "$cli" peers --wait 1 2>&1 >/dev/null | grep -q "A firewall may be dropping" ||
    fail "h2's velto-cli peers does not print the hint"

echo "== 1: --autostart with a tray keeps the window hidden"
launch --autostart
sleep 1
! window_shown || fail "the window shows although a tray is there"
# A second session start finds it running and leaves the window alone.
testlan_exec h2 env DISPLAY=:97 XDG_RUNTIME_DIR="$home2/run" "$VELTO_APP" --autostart ||
    fail "a second --autostart failed"
sleep 0.5
! window_shown || fail "a second --autostart showed the window"

echo "== 2: the autostart entry comes and goes with the setting"
entry=$home2/.config/autostart/velto.desktop
page eval "document.getElementById('autostart-setting').click()" >/dev/null
for _ in $(seq 50); do [ -f "$entry" ] && break; sleep 0.1; done
grep -qx "Exec=$VELTO_APP --autostart" "$entry" || fail "entry: $(cat "$entry" 2>&1)"
page wait "document.getElementById('autostart-setting').checked" 5 >/dev/null || fail "box not ticked"
page eval "document.getElementById('autostart-setting').click()" >/dev/null
for _ in $(seq 50); do [ ! -e "$entry" ] && break; sleep 0.1; done
[ ! -e "$entry" ] || fail "the entry stays after the setting was turned off"

echo "== 3: the program behind the firewall"
# Its hello went out at its start; h1's hello now finds no answer.
if testlan_exec h1 "$cli" peers --wait 1 2>/dev/null | grep -qF "$ip2"; then
    fail "h1 sees h2 through the dropping firewall"
fi
page wait "!document.getElementById('firewall-hint').hidden" 15 >/dev/null || fail "no firewall hint"
words=$(page eval "document.getElementById('empty-state').innerText")
grep -q "A firewall may be dropping" <<<"$words" || fail "hint: $words"

echo "== 4: a second launch shows the window"
testlan_exec h2 env DISPLAY=:97 XDG_RUNTIME_DIR="$home2/run" "$VELTO_APP" || fail "second launch"
for _ in $(seq 50); do window_shown && break; sleep 0.1; done
window_shown || fail "the window did not show"
sleep 0.5
shoot 23-firewall-hint.png

echo "== 5: velto --send a b, and the picker"
testlan_exec h2 nft delete table inet velto_test_firewall
mkdir -p "$home2/out" "$home1/Downloads"
head -c 3000000 /dev/urandom >"$home2/out/a.bin"
printf 'second file\n' >"$home2/out/b b.txt"
testlan_spawn h1 "$cli" receive
receiver=$TESTLAN_LAST_PID
page wait "Velto.app.state.peers.has('$ip1')" 15 >/dev/null || fail "h2 does not hear h1"
page wait "document.getElementById('firewall-hint').hidden" 5 >/dev/null ||
    fail "the firewall hint stays once h1 was heard"
(cd "$home2/out" && testlan_exec h2 env DISPLAY=:97 XDG_RUNTIME_DIR="$home2/run" \
    "$VELTO_APP" --send a.bin "b b.txt") || fail "velto --send"
page wait "document.getElementById('send-picker').open &&
    document.activeElement.dataset.key === '$ip1'" 10 >/dev/null || fail "no picker on h1"
sleep 0.3
shoot 24-send-picker.png
testlan_exec h2 env DISPLAY=:97 xdotool key Return
# Several items arrive together in one folder of their own.
arrived() { find "$home1/Downloads" -name "$1" -type f -print -quit; }
for _ in $(seq 100); do
    [ -n "$(arrived a.bin)" ] && [ -n "$(arrived "b b.txt")" ] &&
        cmp -s "$home2/out/a.bin" "$(arrived a.bin)" && break
    sleep 0.1
done
cmp "$home2/out/a.bin" "$(arrived a.bin)" || fail "a.bin did not arrive whole"
cmp "$home2/out/b b.txt" "$(arrived "b b.txt")" || fail "b b.txt did not arrive whole"
page wait "!document.getElementById('send-picker').open" 5 >/dev/null || fail "picker stays open"
kill -TERM "$receiver"

echo "== 6: no tray: --autostart shows the window"
kill -TERM "$pid"
wait "$pid" || fail "the program did not quit cleanly"
kill -TERM "$tray"
launch --autostart
for _ in $(seq 50); do window_shown && break; sleep 0.1; done
window_shown || fail "without a tray the window stays hidden"
kill -TERM "$pid"
wait "$pid" || fail "the program did not quit cleanly"
echo "the program on the desktop: all held"
