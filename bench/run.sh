#!/usr/bin/env bash
# The test-LAN benchmark: Velto side by side with a plain copy over the same two hosts, in the
# same run. Not part of the test suite; run it on a quiet machine (as root):
#
#   bash bench/run.sh                  all cases, 5 repetitions, table in bench/results/<date>.md
#   bash bench/run.sh --reps 3 --cases file,tree
#   bash bench/run.sh --cli PATH       another velto-cli build
#   bash bench/run.sh --compare PATH   also runs this velto-cli (say, an earlier build) in every
#                                      repetition of the file and tree cases, as "previous"
#
# Cases (each repetition runs Velto and its baseline one after the other):
#   file      one 1 GiB file: velto-cli send -> velto-cli receive, against socat into a file
#   tree      10,000 files of 4 KiB in 100 folders, against tar c | nc -> nc | tar x
#   text      texts of 1 byte and 1 MiB (velto-bench-probe send-text, and velto-cli send --text
#             for the byte), against nc; latency from start or connect to the received report
#   discovery time from a host's start to the other host's peer-added report, against the
#             first datagram of a socat started at the same moment
#   eight     eight senders of 128 MiB each to one receiver at once, against eight socat pairs
#   link1g    the file case's copy of 1 GiB over a link shaped to 1 Gbit/s (a tbf qdisc on the
#             sender's side with a deep queue), against socat over the same link
#   link300m  512 MiB over a link shaped to 300 Mbit/s by a tbf whose queue holds about 2 ms,
#             so that it drops packets (the kernels here have no netem for delay and loss)
#   crowd     1,000 computers announce themselves at once from a routed /22 (bench/lan/crowd.py
#             on h3) and serve their pictures slowly; velto-cli receive on h1 and velto-cli peers
#             on h4 take them in. Figures: last hello to all in the receiver's table and in the
#             listing, most picture requests open at once, resident memory per peer, and, where
#             build/ci/app/velto and Xvfb exist, the program's page drawing its peer list
#
# Everything runs in a private network and mount namespace: hosts of the test LAN
# (tests/testlan/testlan.sh), files on a tmpfs of its own, so that the disk's write-back does
# not blur the figures. Each Velto receiver runs under /usr/bin/time, started for the one
# repetition it serves, so that its CPU time and peak memory are those of that transfer.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
reps=5
cases=file,tree,text,discovery,eight,link1g,link300m,crowd
cli=""
previous=""
while [ $# -gt 0 ]; do
    case $1 in
    --reps) reps=$2 && shift 2 ;;
    --cases) cases=$2 && shift 2 ;;
    --cli) cli=$(realpath "$2") && shift 2 ;;
    --compare) previous=$(realpath "$2") && shift 2 ;;
    *) echo "usage: bench/run.sh [--reps N] [--cases file,tree,text,discovery,eight,link1g,link300m,crowd] [--cli PATH] [--compare PATH]" >&2 && exit 2 ;;
    esac
done

if [ -z "${VELTO_BENCH_INSIDE:-}" ]; then
    [ "$(id -u)" -eq 0 ] || { echo "bench/run.sh needs root (network namespaces)" >&2 && exit 1; }
    cd "$root"
    bash scripts/setup.sh >/dev/null
    cmake --preset bench >/dev/null
    cmake --build --preset bench
    exec unshare --net --mount --fork -- env VELTO_BENCH_INSIDE=1 bash "$0" --reps "$reps" \
        --cases "$cases" ${cli:+--cli "$cli"} ${previous:+--compare "$previous"}
fi

# Inside the private namespaces from here on.
cd "$root"
ip link set lo up
mount --make-rprivate /
build=$root/build/bench
cli=${cli:-$build/cli/velto-cli}
probe=$build/bench/velto-bench-probe
lan=$root/bench/lan
timefmt='%e %U %S %M'
# shellcheck source=lan/workspace.sh
source bench/lan/workspace.sh
bench_workspace velto-bench 12g 9

ip1=$(testlan_ip h1)
raw=$work/measurements.tsv # case system rep bytes seconds cpu-sender cpu-receiver rss-sender rss-receiver
: >"$raw"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

note() { echo "[$(date +%T)] $*" >&2; }
fail() {
    echo "bench: $*" >&2
    exit 1
}

# Seconds between two wall-clock times.
seconds_between() { python3 -c "import sys; print(f'{float(sys.argv[2]) - float(sys.argv[1]):.6f}')" "$1" "$2"; }

# "user+system seconds" and "peak KiB" of a GNU time record (its last line).
cpu_of() { tail -n 1 "$1" | awk '{printf "%.2f", $2 + $3}'; }
rss_of() { tail -n 1 "$1" | awk '{print $4}'; }

record() { printf '%s\n' "$*" | tr ' ' '\t' >>"$raw"; }

wait_for_port() { testlan_wait_for_port "$1" t "$2" || fail "nothing listens on $1:$2"; }

# Ends a process started under /usr/bin/time (which ignores the signals itself) and waits for
# the record.
stop_timed() {
    local pid=$1 child
    child=$(cat "/proc/$pid/task/$pid/children" 2>/dev/null || true)
    [ -z "$child" ] || kill -TERM $child 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

# Starts "velto-cli receive --json" (or $4 receive --json) on a host under /usr/bin/time; its
# stamped events go to $2. Sets receiver_pid.
start_receiver() {
    local host=$1 events=$2 times=$3 program=${4:-$cli}
    rm -rf "$(testlan_home "$host")/Downloads"
    testlan_spawn "$host" /usr/bin/time -f "$timefmt" -o "$times" "$program" receive --json \
        > >(python3 "$lan/stamp.py" >"$events") 2>>"$work/receiver.err"
    receiver_pid=$TESTLAN_LAST_PID
    wait_for_port "$host" 4644
}

# --- cases -------------------------------------------------------------------------------

# One transfer of a file or folder from h2 to a fresh receiver on h1, checked byte for byte.
velto_send_rep() {
    local case=$1 system=$2 program=$3 rep=$4 source=$5 bytes=$6 t0 t1
    local events=$work/events-$case-$system-$rep received
    received=$(testlan_home h1)/Downloads/$(basename "$source")
    start_receiver h1 "$events" "$work/rtime" "$program"
    t0=$EPOCHREALTIME
    testlan_exec h2 /usr/bin/time -f "$timefmt" -o "$work/stime" "$program" send "$ip1" \
        "$source" >/dev/null || fail "velto-cli send failed"
    t1=$(python3 "$lan/events.py" "$events" transfer-finished) || fail "no finished report"
    stop_timed "$receiver_pid"
    diff -r -q "$source" "$received" >/dev/null || fail "$received differs from $source"
    record "$case" "$system" "$rep" "$bytes" "$(seconds_between "$t0" "$t1")" \
        "$(cpu_of "$work/stime")" "$(cpu_of "$work/rtime")" \
        "$(rss_of "$work/stime")" "$(rss_of "$work/rtime")"
    rm -rf "$received"
}

make_file() { head -c "$2" /dev/urandom >"$1"; }

# One copy of a file from h2 into socat on h1, the baseline of the file and link cases.
socat_copy_rep() {
    local case=$1 rep=$2 src=$3 size=$4 t0 t1 pid
    rm -f "$work/raw/big.bin"
    testlan_spawn h1 sh -c '/usr/bin/time -f "$0" -o "$1" socat -b 131072 -u \
        TCP-LISTEN:5001,reuseaddr "CREATE:$2"; date +%s.%N >"$3"' \
        "$timefmt" "$work/rtime" "$work/raw/big.bin" "$work/rend"
    pid=$TESTLAN_LAST_PID
    wait_for_port h1 5001
    t0=$EPOCHREALTIME
    testlan_exec h2 /usr/bin/time -f "$timefmt" -o "$work/stime" socat -b 131072 -u \
        "OPEN:$src" "TCP:$ip1:5001"
    wait "$pid"
    t1=$(cat "$work/rend")
    cmp -s "$src" "$work/raw/big.bin" || fail "the copied file differs"
    record "$case" baseline "$rep" "$size" "$(seconds_between "$t0" "$t1")" \
        "$(cpu_of "$work/stime")" "$(cpu_of "$work/rtime")" \
        "$(rss_of "$work/stime")" "$(rss_of "$work/rtime")"
    rm -f "$work/raw/big.bin"
}

case_file() {
    local src=$work/src/big.bin size=$((1024 * 1024 * 1024)) rep
    mkdir -p "$work/src" "$work/raw"
    make_file "$src" "$size"
    for ((rep = 1; rep <= reps; rep++)); do
        note "file: repetition $rep of $reps"
        velto_send_rep file velto "$cli" "$rep" "$src" "$size"
        [ -z "$previous" ] || velto_send_rep file previous "$previous" "$rep" "$src" "$size"
        socat_copy_rep file "$rep" "$src" "$size"
    done
    rm -f "$src"
}

# Packets that h2's token bucket has dropped so far.
link_drops() {
    testlan_exec h2 tc -s qdisc show dev eth0 | awk '/dropped/ {sub(",", "", $7); print $7; exit}'
}

# A file from h2 to h1 over a link shaped on h2's side by a tbf with the given parameters; the
# packets the bucket dropped are noted per transfer.
case_link() {
    local case=$1 size=$2 src=$work/src/link.bin rep before
    shift 2
    mkdir -p "$work/src" "$work/raw"
    make_file "$src" "$size"
    testlan_exec h2 tc qdisc replace dev eth0 root tbf "$@"
    for ((rep = 1; rep <= reps; rep++)); do
        note "$case: repetition $rep of $reps"
        before=$(link_drops)
        velto_send_rep "$case" velto "$cli" "$rep" "$src" "$size"
        record "$case" figure "$rep" drops-velto $(($(link_drops) - before))
        before=$(link_drops)
        socat_copy_rep "$case" "$rep" "$src" "$size"
        record "$case" figure "$rep" drops-baseline $(($(link_drops) - before))
    done
    testlan_exec h2 tc qdisc del dev eth0 root
    rm -f "$src"
}

case_link1g() { case_link link1g $((1024 * 1024 * 1024)) rate 1gbit burst 256kb latency 50ms; }
# 96 kB of queue is 2.6 ms at 300 Mbit/s: a sender that fills it loses packets.
case_link300m() { case_link link300m $((512 * 1024 * 1024)) rate 300mbit burst 64kb limit 96kb; }

case_tree() {
    local parent=$work/src/trees folders=100 files=10000 size=4096 rep t0 t1
    mkdir -p "$parent/tree" "$work/raw"
    python3 "$lan/make_tree.py" "$parent/tree" "$folders" "$files" "$size"
    local bytes=$((files * size))
    for ((rep = 1; rep <= reps; rep++)); do
        note "tree: repetition $rep of $reps"
        velto_send_rep tree velto "$cli" "$rep" "$parent/tree" "$bytes"
        [ -z "$previous" ] || velto_send_rep tree previous "$previous" "$rep" "$parent/tree" "$bytes"

        rm -rf "$work/raw/tree"
        testlan_spawn h1 sh -c '/usr/bin/time -f "$0" -o "$1" sh "$2" receive "$3"; date +%s.%N >"$4"' \
            "$timefmt" "$work/rtime" "$lan/tar-over-nc.sh" "$work/raw" "$work/rend"
        local pid=$TESTLAN_LAST_PID
        wait_for_port h1 5002
        t0=$EPOCHREALTIME
        testlan_exec h2 /usr/bin/time -f "$timefmt" -o "$work/stime" \
            sh "$lan/tar-over-nc.sh" send "$parent" "$ip1"
        wait "$pid"
        t1=$(cat "$work/rend")
        diff -r -q "$parent/tree" "$work/raw/tree" >/dev/null || fail "the copied tree differs"
        record tree baseline "$rep" "$bytes" "$(seconds_between "$t0" "$t1")" \
            "$(cpu_of "$work/stime")" "$(cpu_of "$work/rtime")" \
            "$(rss_of "$work/stime")" "$(rss_of "$work/rtime")"
        rm -rf "$work/raw/tree"
    done
    rm -rf "$parent"
}

# The stamp of the n-th received text (the receiver runs through all repetitions).
text_stamp() { python3 "$lan/events.py" "$work/events-text" transfer-incoming-text --nth "$1" --timeout 30; }
probe_stamp() { awk -v event="$2" '$1 == event {print $2}' "$1"; }

case_text() {
    local rep n=0 t0 t1 size
    mkdir -p "$work/raw"
    start_receiver h1 "$work/events-text" "$work/rtime"
    for ((rep = 1; rep <= reps; rep++)); do
        note "text: repetition $rep of $reps"
        for size in 1 1048576; do
            testlan_exec h2 "$probe" send-text "$ip1" "$size" >"$work/probe" ||
                fail "the probe's text did not go out"
            n=$((n + 1))
            t1=$(text_stamp "$n") || fail "no text report"
            record "text-$size-connect" velto "$rep" "$size" \
                "$(seconds_between "$(probe_stamp "$work/probe" connected)" "$t1")" - - - -
            record "text-$size-start" velto "$rep" "$size" \
                "$(seconds_between "$(probe_stamp "$work/probe" start)" "$t1")" - - - -

            head -c "$size" /dev/zero | tr '\0' 'a' >"$work/raw/text"
            testlan_spawn h1 sh -c 'nc -l 5003 </dev/null | python3 "$0" --eof >"$1"' \
                "$lan/stamp.py" "$work/rend"
            local pid=$TESTLAN_LAST_PID
            wait_for_port h1 5003
            t0=$EPOCHREALTIME
            testlan_exec h2 nc -N "$ip1" 5003 <"$work/raw/text"
            wait "$pid"
            record "text-$size-start" baseline "$rep" "$size" \
                "$(seconds_between "$t0" "$(cut -d' ' -f2 "$work/rend")")" - - - -
        done
        # The command a user types, start to report.
        t0=$EPOCHREALTIME
        testlan_exec h2 "$cli" send "$ip1" --text x >/dev/null || fail "velto-cli send --text failed"
        n=$((n + 1))
        t1=$(text_stamp "$n") || fail "no text report"
        record text-1-cli velto "$rep" 1 "$(seconds_between "$t0" "$t1")" - - - -
    done
    stop_timed "$receiver_pid"
}

case_discovery() {
    local rep t0 t1 ip3
    ip3=$(testlan_ip h3)
    start_receiver h1 "$work/events-discovery" "$work/rtime"
    testlan_spawn h2 sh -c 'socat -u UDP-RECV:4700 - | python3 "$0" >"$1"' "$lan/stamp.py" \
        "$work/datagrams"
    local listener=$TESTLAN_LAST_PID
    for ((rep = 1; rep <= reps; rep++)); do
        note "discovery: repetition $rep of $reps"
        t0=$EPOCHREALTIME
        testlan_spawn h3 "$cli" receive --json >/dev/null 2>&1
        local pid=$TESTLAN_LAST_PID
        t1=$(python3 "$lan/events.py" "$work/events-discovery" peer-added --nth "$((2 * rep - 1))" \
            --contains "$ip3" --timeout 10) || fail "no peer-added report"
        record discovery-start velto "$rep" 0 "$(seconds_between "$t0" "$t1")" - - - -
        kill -TERM "$pid"
        wait "$pid" || true
        python3 "$lan/events.py" "$work/events-discovery" peer-removed --nth "$((2 * rep - 1))" \
            --contains "$ip3" --timeout 10 >/dev/null || fail "no peer-removed report"

        # The probe stamps the moment just before its hello goes out.
        testlan_spawn h3 "$probe" announce >"$work/probe"
        pid=$TESTLAN_LAST_PID
        t1=$(python3 "$lan/events.py" "$work/events-discovery" peer-added --nth "$((2 * rep))" \
            --contains "$ip3" --timeout 10) || fail "no peer-added report for the probe"
        record discovery-hello velto "$rep" 0 \
            "$(seconds_between "$(probe_stamp "$work/probe" hello)" "$t1")" - - - -
        kill -TERM "$pid"
        wait "$pid" || true
        python3 "$lan/events.py" "$work/events-discovery" peer-removed --nth "$((2 * rep))" \
            --contains "$ip3" --timeout 10 >/dev/null || fail "no peer-removed report"

        t0=$EPOCHREALTIME
        testlan_exec h3 sh -c 'echo hello | socat -u - UDP-DATAGRAM:10.77.0.255:4700,broadcast'
        t1=$(python3 "$lan/events.py" "$work/datagrams" --line hello --nth "$rep" --timeout 5) ||
            fail "the baseline datagram did not arrive"
        record discovery-start baseline "$rep" 0 "$(seconds_between "$t0" "$t1")" - - - -
    done
    stop_timed "$receiver_pid"
    kill -TERM "$listener" 2>/dev/null || true
}

case_eight() {
    local src=$work/src/part.bin size=$((128 * 1024 * 1024)) rep i
    mkdir -p "$work/src" "$work/raw"
    make_file "$src" "$size"
    for ((rep = 1; rep <= reps; rep++)); do
        note "eight: repetition $rep of $reps"
        start_receiver h1 "$work/events-eight-$rep" "$work/rtime"
        local pids=() t0 t1
        t0=$EPOCHREALTIME
        for i in 2 3 4 5 6 7 8 9; do
            testlan_spawn "h$i" /usr/bin/time -f "$timefmt" -o "$work/stime$i" "$cli" send \
                "$ip1" "$src" >/dev/null
            pids+=("$TESTLAN_LAST_PID")
        done
        for i in "${pids[@]}"; do wait "$i" || fail "a velto-cli send failed"; done
        t1=$(python3 "$lan/events.py" "$work/events-eight-$rep" transfer-finished --nth 8) ||
            fail "not all eight finished"
        stop_timed "$receiver_pid"
        local received
        for received in "$(testlan_home h1)"/Downloads/part*; do
            cmp -s "$src" "$received" || fail "$received differs"
        done
        [ "$(ls "$(testlan_home h1)/Downloads" | wc -l)" -eq 8 ] || fail "not eight files"
        local cpu=0 rss=0
        for i in 2 3 4 5 6 7 8 9; do
            cpu=$(awk -v a="$cpu" -v b="$(cpu_of "$work/stime$i")" 'BEGIN {printf "%.2f", a + b}')
            rss=$(awk -v a="$rss" -v b="$(rss_of "$work/stime$i")" 'BEGIN {print (b > a ? b : a)}')
        done
        record eight velto "$rep" $((8 * size)) "$(seconds_between "$t0" "$t1")" "$cpu" \
            "$(cpu_of "$work/rtime")" "$rss" "$(rss_of "$work/rtime")"
        rm -rf "$(testlan_home h1)/Downloads"

        rm -f "$work/raw/"part*
        local receivers=()
        for i in 2 3 4 5 6 7 8 9; do
            testlan_spawn h1 sh -c '/usr/bin/time -f "$0" -o "$1" socat -b 131072 -u \
                TCP-LISTEN:"$2",reuseaddr "CREATE:$3"; date +%s.%N >"$4"' \
                "$timefmt" "$work/rtime$i" "$((5010 + i))" "$work/raw/part$i" "$work/rend$i"
            receivers+=("$TESTLAN_LAST_PID")
        done
        for i in 2 3 4 5 6 7 8 9; do wait_for_port h1 $((5010 + i)); done
        pids=()
        t0=$EPOCHREALTIME
        for i in 2 3 4 5 6 7 8 9; do
            testlan_spawn "h$i" /usr/bin/time -f "$timefmt" -o "$work/stime$i" socat -b 131072 \
                -u "OPEN:$src" "TCP:$ip1:$((5010 + i))"
            pids+=("$TESTLAN_LAST_PID")
        done
        for i in "${pids[@]}" "${receivers[@]}"; do wait "$i"; done
        t1=$(sort -n "$work"/rend* | tail -n 1)
        local scpu=0 srss=0 rcpu=0 rrss=0
        for i in 2 3 4 5 6 7 8 9; do
            cmp -s "$src" "$work/raw/part$i" || fail "copy $i differs"
            scpu=$(awk -v a="$scpu" -v b="$(cpu_of "$work/stime$i")" 'BEGIN {printf "%.2f", a + b}')
            rcpu=$(awk -v a="$rcpu" -v b="$(cpu_of "$work/rtime$i")" 'BEGIN {printf "%.2f", a + b}')
            srss=$(awk -v a="$srss" -v b="$(rss_of "$work/stime$i")" 'BEGIN {print (b > a ? b : a)}')
            rrss=$(awk -v a="$rrss" -v b="$(rss_of "$work/rtime$i")" 'BEGIN {print (b > a ? b : a)}')
        done
        record eight baseline "$rep" $((8 * size)) "$(seconds_between "$t0" "$t1")" "$scpu" \
            "$rcpu" "$srss" "$rrss"
        rm -f "$work/raw/"part* "$work"/rend*
    done
    rm -f "$src"
}

crowd_block=10.77.4.0/22
crowd_size=1000
crowd_delay=0.1 # seconds each picture takes

# The stamp of the first line of a stamped file (see stamp.py) that holds a text; fails after
# seconds (default 30).
stamped_line() { python3 "$lan/events.py" "$1" --line "$2" --timeout "${3:-30}"; }
# The word after word $2 on the first line where it follows the stamp.
word_after() { awk -v word="$2" '$2 == word {print $3; exit}' "$1"; }
pid_under_time() { awk '{print $1}' "/proc/$1/task/$1/children"; }
rss_kib() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }

# Field $2 of what crowd.py's status says of the picture requests from address $1, once at
# least $3 of them have been served (fails after 90 s).
crowd_pictures() {
    python3 - "$work/crowd-status" "$1" "$2" "$3" <<'EOF'
import json, sys, time
path, client, field, wanted = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
deadline = time.time() + 90
while True:
    with open(path) as status:
        entry = json.load(status).get(client, {})
    if entry.get("served", 0) >= wanted:
        print(entry[field])
        sys.exit(0)
    if time.time() > deadline:
        sys.exit(f"{client} got {entry.get('served', 0)} of {wanted} pictures")
    time.sleep(0.05)
EOF
}

# Starts the crowd on h3 and waits for its last hello; sets crowd_pid and crowd_last.
start_crowd() {
    testlan_spawn h3 python3 "$lan/crowd.py" --count "$crowd_size" --block "$crowd_block" \
        --broadcast "$TESTLAN_SUBNET.255" --status "$work/crowd-status" --delay "$crowd_delay" \
        --seconds 300 > >(python3 "$lan/stamp.py" >"$work/crowd-out")
    crowd_pid=$TESTLAN_LAST_PID
    stamped_line "$work/crowd-out" hello-last >/dev/null || fail "the crowd did not announce"
    crowd_last=$(word_after "$work/crowd-out" hello-last)
}

stop_crowd() {
    kill -TERM "$crowd_pid"
    wait "$crowd_pid" || fail "crowd.py failed"
}

# The desktop program on h5 takes in the crowd; its page reports each drawing of its peer list
# on standard error, which goes to the host's velto-run.log.
crowd_program_round() {
    local app=$1 program
    # shellcheck source=../tests/e2e/app-lib.sh
    source tests/e2e/app-lib.sh
    note "crowd: the program on h5"
    VELTO_APP=$app VELTO_PAGE_TIMINGS=1 app_start h5 "$((100 + RANDOM % 100))" "Crowd Watcher"
    program=$TESTLAN_LAST_PID
    record crowd figure 1 program-ran 1
    testlan_wait_for_port h5 t 4644 60 || fail "the program did not start"
    start_crowd
    crowd_pictures "$(testlan_ip h5)" served "$crowd_size" >/dev/null || fail "pictures missing"
    sleep 2 # the page's last updates
    kill -TERM "$program"
    wait "$program" || true
    stop_crowd
    grep -o 'page: peer list drawn in [0-9.]* ms' "$(testlan_home h5)/velto-run.log" |
        awk '{print $6}' | while read -r ms; do record crowd figure 1 draw-ms "$ms"; done
}

case_crowd() {
    local rep host receiver rss0 table answered seen listed pictures
    local expected=$((crowd_size + 1)) app=$root/build/ci/app/velto # the listing also hears h1
    for host in h1 h4 h5; do
        testlan_exec "$host" ip route replace "$crowd_block" via "$(testlan_ip h3)"
    done
    for ((rep = 1; rep <= reps; rep++)); do
        note "crowd: repetition $rep of $reps"
        start_receiver h1 "$work/events-crowd-$rep" "$work/rtime"
        sleep 0.5
        receiver=$(pid_under_time "$receiver_pid")
        rss0=$(rss_kib "$receiver")
        start_crowd
        table=$(python3 "$lan/events.py" "$work/events-crowd-$rep" peer-added \
            --nth "$crowd_size" --timeout 30) ||
            fail "not all $crowd_size computers came into the receiver's table"
        record crowd-table velto "$rep" 0 "$(seconds_between "$crowd_last" "$table")" - - - -

        testlan_exec h4 "$cli" -v peers --json --wait 1 >"$work/peers.json" \
            2> >(python3 "$lan/stamp.py" >"$work/peers-err") || fail "velto-cli peers failed"
        seen=$(stamped_line "$work/peers-err" "Peers ($expected)" 5) ||
            fail "velto-cli peers never had $expected peers"
        answered=$(awk -v ip="$(testlan_ip h4)" '$2 == "answered" && $3 == ip {print $5; exit}' \
            "$work/crowd-out")
        listed=$(python3 -c 'import json, sys; print(len(json.load(open(sys.argv[1]))))' \
            "$work/peers.json")
        record crowd-peers velto "$rep" 0 "$(seconds_between "$answered" "$seen")" - - - -
        record crowd figure "$rep" listed "$listed"

        pictures=$(crowd_pictures "$ip1" last "$crowd_size") || fail "pictures missing"
        record crowd figure "$rep" pictures-s "$(seconds_between "$crowd_last" "$pictures")"
        record crowd figure "$rep" most-open "$(crowd_pictures "$ip1" most_open 0)"
        record crowd figure "$rep" rss-kib-per-peer "$(awk -v a="$rss0" -v b="$(rss_kib "$receiver")" \
            -v n="$crowd_size" 'BEGIN {printf "%.2f", (b - a) / n}')"
        stop_timed "$receiver_pid"
        stop_crowd
    done
    if [ -x "$app" ] && command -v Xvfb >/dev/null; then
        crowd_program_round "$app"
    fi
}

for name in ${cases//,/ }; do
    case $name in
    file | tree | text | discovery | eight | link1g | link300m | crowd) "case_$name" ;;
    *) fail "no case $name" ;;
    esac
done

load_after=$(cut -d' ' -f1-3 /proc/loadavg)
mkdir -p "$root/bench/results"
minute=$(date +%Y-%m-%d-%H%M)
stamp=$minute
for ((n = 2; n < 100; n++)); do # runs that end within the same minute keep their own files
    [ -e "$root/bench/results/$stamp.md" ] || break
    stamp=$minute-$n
done
{
    echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo) RAM, Linux $(uname -r)"
    echo "load: $load_before before, $load_after after (1, 5, 15 minutes)"
    echo "velto: $(git -C "$root" describe --always --dirty) ($(basename "$(dirname "$(dirname "$cli")")") build of velto-cli at $cli)"
    echo "repetitions: $reps; files on tmpfs; hosts are network namespaces joined by veth pairs and a bridge"
} >"$work/machine"
python3 "$lan/report.py" "$raw" "$work/machine" "$root/bench/results/$stamp.md"
cp "$raw" "$root/bench/results/$stamp.tsv"
note "results in bench/results/$stamp.md"
