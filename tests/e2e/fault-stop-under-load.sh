#!/usr/bin/env bash
# A receiver stopped while 24 senders on four hosts keep transfers coming, by SIGTERM, SIGINT,
# SIGHUP, or by losing the reader of its output, several times over: each time it ends with the
# documented status (0 after a signal, 1 once its output is gone), reports every transfer it
# started as finished or failed, says goodbye (another host sees it leave), and leaves nothing
# in Downloads but whole items, each equal to its source; no hidden intermediate folder.
# Last, a stop that cannot end the transfers within 5 s (the reader of its output stopped
# reading, so storing waits on a full pipe) still says goodbye and ends, with status 1.
# Given the desktop program too, it then quits once under the same load, by SIGTERM (as when a
# session ends), with the same checks but the events.
# About 25 s in the normal build (with the program), under a minute in a sanitizer build.
# Usage: fault-stop-under-load.sh PATH-TO-velto-cli [PATH-TO-velto]
set -euo pipefail
source "$(dirname "$0")/load-lib.sh" "$1"

# Sanitizer builds run each way of stopping once, the normal build twice.
stops=(TERM INT HUP output)
[ -n "${VELTO_E2E_SANITIZE:-}" ] || stops+=("${stops[@]}")
velto=${2:-}
[ -z "$velto" ] || stops+=(program)
stops+=(stalled)
senders_per_host=6

testlan_up 5
ip1=$(testlan_ip h1)
dl=$(downloads_of h1)
# The senders send while this file exists, that is while a receiver runs, so that they do not
# spend the machine on refused connections between the rounds.
sending=$(testlan_home h1)/sending
for from in h2 h3 h4 h5; do
    for ((k = 1; k <= senders_per_host; k++)); do
        src=$(testlan_home $from)/src
        mkdir -p "$src/tree-$from-$k/sub"
        echo "$from $k" >"$src/tree-$from-$k/a.txt"
        head -c 300000 /dev/urandom >"$src/tree-$from-$k/sub/b.bin"
        head -c 700000 /dev/urandom >"$src/tree-$from-$k/sub/c.bin"
        head -c 1000000 /dev/urandom >"$src/file-$from-$k.bin"
        # Sends its folder and its file in turn, for as long as the test runs.
        # shellcheck disable=SC2016
        testlan_spawn $from bash -c 'cli=$1 to=$2 sending=$3; shift 3
            while :; do for item; do
                [ -e "$sending" ] && "$cli" send "$to" "$item" >/dev/null 2>&1 || sleep 0.2
            done; done' sender "$VELTO_CLI" "$ip1" "$sending" "$src/tree-$from-$k" "$src/file-$from-$k.bin"
    done
done
# The other host that must hear each goodbye.
start_receiver h2
goodbyes() { grep '"peer-removed"' "$(testlan_home h2)/events" | grep -c "\"$ip1\"" || true; }

# Every entry in Downloads is a published item whose content equals its source's.
check_downloads() {
    local entry name source
    for entry in "$dl"/* "$dl"/.[!.]*; do
        [ -e "$entry" ] || continue
        name=${entry##*/}
        [[ $name != .* ]] || fail "$name left in Downloads after stopping by $1"
        source=$(sed -E 's/ \([0-9]+\)//' <<<"$name")
        [[ $source =~ ^(tree|file)-(h[2-5])-[0-9]+(\.bin)?$ ]] || fail "unexpected $name"
        diff -r "$(testlan_home "${BASH_REMATCH[2]}")/src/$source" "$entry" >/dev/null ||
            fail "$name differs from its source after stopping by $1"
    done
}

# Every transfer the receiver reported as incoming was reported as finished or failed.
check_every_transfer_ended() {
    python3 - "$1" <<'EOF' || fail "transfers left without an end after stopping by $2"
import json, sys
started, ended, failed = set(), set(), set()
for line in open(sys.argv[1]):
    event = json.loads(line)
    key = event["data"].get("key")
    if event["event"] == "transfer-incoming":
        started.add(key)
    elif event["event"] in ("transfer-finished", "transfer-failed"):
        ended.add(key)
        if event["event"] == "transfer-failed":
            failed.add(key)
print(f"{len(started)} transfers, {len(started & ended)} reported as ended, {len(failed)} failed")
sys.exit(0 if started <= ended else 1)
EOF
}

# Waits (at most 15 s) until the process has ended, and notes its status.
wait_for_end() {
    local pid=$1 tries
    for ((tries = 0; tries < 150; tries++)); do
        [ "$(awk '{ print $3 }' "/proc/$pid/stat" 2>/dev/null)" != Z ] || break
        [ -e "/proc/$pid" ] || break
        sleep 0.1
    done
    status=0
    [ "$(awk '{ print $3 }' "/proc/$pid/stat" 2>/dev/null)" = Z ] || [ ! -e "/proc/$pid" ] ||
        fail "h1 was still running 15 s after stopping by $2"
    wait "$pid" || status=$?
}

# Starts what is to be stopped on h1 (its pid in TESTLAN_LAST_PID), with its standard error in
# receiver.err: the desktop program under an X server of its own, or "velto-cli receive --json"
# with its events in the file events, for output through a pipe whose reader will be killed.
start_on_h1() {
    local home events
    home=$(testlan_home h1)
    events=$home/events
    if [ "$1" = program ]; then
        # shellcheck disable=SC2016
        testlan_spawn h1 bash -c 'Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$HOME/display" &
            for _ in $(seq 100); do [ -s "$HOME/display" ] && break; sleep 0.1; done
            mkdir -p -m 700 "$HOME/run"
            export DISPLAY=":$(cat "$HOME/display")" XDG_RUNTIME_DIR="$HOME/run" \
                QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
            exec "$1"' program "$velto" >"$home/receiver.err" 2>&1
        wait_for_listener h1
    elif [ "$1" = output ] || [ "$1" = stalled ]; then
        rm -f "$home/pipe" && mkfifo "$home/pipe"
        testlan_spawn h1 cat "$home/pipe" >"$events"
        reader=$TESTLAN_LAST_PID
        testlan_spawn h1 "$VELTO_CLI" receive --json >"$home/pipe" 2>"$home/receiver.err"
        wait_for_listener h1
    else
        start_receiver h1
    fi
}

started=$EPOCHREALTIME
for stop in "${stops[@]}"; do
    before=$(goodbyes)
    start_on_h1 "$stop"
    receiver=$TESTLAN_LAST_PID
    touch "$sending"
    # Stopped once the load is on (a few items published) and an item is being stored.
    for ((tries = 0; tries < 1500; tries++)); do
        (($(find "$dl" -mindepth 1 -maxdepth 1 | wc -l) < 5)) ||
            [ -z "$(find "$dl" -maxdepth 1 -name '.VeltoTransferIntermediateStorage*' 2>/dev/null)" ] ||
            break
        sleep 0.02
    done
    expected=0
    case $stop in
    output)
        { kill -KILL "$reader" && wait "$reader"; } 2>/dev/null || true
        expected=1
        ;;
    stalled)
        kill -STOP "$reader"
        # Filled up, the pipe holds the receiver's next line, and the thread that writes it.
        dd if=/dev/zero of="$(testlan_home h1)/pipe" bs=4096 count=64 oflag=nonblock 2>/dev/null || true
        sleep 0.5
        kill -TERM "$receiver"
        expected=1
        ;;
    program) kill -TERM "$receiver" ;;
    *) kill "-$stop" "$receiver" ;;
    esac
    wait_for_end "$receiver" "$stop"
    rm "$sending"
    ((status == expected)) ||
        fail "h1 stopped by $stop ended with status $status, not $expected: $(tail -n 5 "$(testlan_home h1)/receiver.err")"
    case $stop in
    stalled) kill -KILL "$reader" ;;  # what the receiver had to leave is removed at its next start
    output | program) check_downloads "$stop" ;;
    *)
        check_every_transfer_ended "$(testlan_home h1)/events" "$stop"
        check_downloads "$stop"
        ;;
    esac
    for ((tries = 0; tries < 50; tries++)); do
        (($(goodbyes) > before)) && break
        sleep 0.1
    done
    (($(goodbyes) > before)) || fail "no goodbye heard on h2 after stopping by $stop"
    echo "stopped by $stop: status $status, $(find "$dl" -mindepth 1 -maxdepth 1 | wc -l) whole items, goodbye heard"
    rm -rf "${dl:?}"/*
done
awk -v a="$started" -v b="$EPOCHREALTIME" -v n="${#stops[@]}" \
    'BEGIN { printf "%d stops under load in %.1f s\n", n, b - a }'
