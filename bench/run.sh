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
#
# Everything runs in a private network and mount namespace: hosts of the test LAN
# (tests/testlan/testlan.sh), files on a tmpfs of its own, so that the disk's write-back does
# not blur the figures. Each Velto receiver runs under /usr/bin/time, started for the one
# repetition it serves, so that its CPU time and peak memory are those of that transfer.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
reps=5
cases=file,tree,text,discovery,eight
cli=""
previous=""
while [ $# -gt 0 ]; do
    case $1 in
    --reps) reps=$2 && shift 2 ;;
    --cases) cases=$2 && shift 2 ;;
    --cli) cli=$(realpath "$2") && shift 2 ;;
    --compare) previous=$(realpath "$2") && shift 2 ;;
    *) echo "usage: bench/run.sh [--reps N] [--cases file,tree,text,discovery,eight] [--cli PATH] [--compare PATH]" >&2 && exit 2 ;;
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
work=$(mktemp -d /tmp/velto-bench.XXXXXX)
mount -t tmpfs -o size=12g tmpfs "$work"
export TMPDIR=$work
# shellcheck source=../tests/testlan/testlan.sh
source tests/testlan/testlan.sh
cleanup() {
    testlan_down
    umount "$work" 2>/dev/null || true
    rmdir "$work" 2>/dev/null || true
}
testlan_up 9
trap cleanup EXIT
trap 'cleanup; exit 130' INT
trap 'cleanup; exit 143' TERM

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

case_file() {
    local src=$work/src/big.bin size=$((1024 * 1024 * 1024)) rep t0 t1
    mkdir -p "$work/src" "$work/raw"
    make_file "$src" "$size"
    for ((rep = 1; rep <= reps; rep++)); do
        note "file: repetition $rep of $reps"
        velto_send_rep file velto "$cli" "$rep" "$src" "$size"
        [ -z "$previous" ] || velto_send_rep file previous "$previous" "$rep" "$src" "$size"

        rm -f "$work/raw/big.bin"
        testlan_spawn h1 sh -c '/usr/bin/time -f "$0" -o "$1" socat -b 131072 -u \
            TCP-LISTEN:5001,reuseaddr "CREATE:$2"; date +%s.%N >"$3"' \
            "$timefmt" "$work/rtime" "$work/raw/big.bin" "$work/rend"
        local pid=$TESTLAN_LAST_PID
        wait_for_port h1 5001
        t0=$EPOCHREALTIME
        testlan_exec h2 /usr/bin/time -f "$timefmt" -o "$work/stime" socat -b 131072 -u \
            "OPEN:$src" "TCP:$ip1:5001"
        wait "$pid"
        t1=$(cat "$work/rend")
        cmp -s "$src" "$work/raw/big.bin" || fail "the copied file differs"
        record file baseline "$rep" "$size" "$(seconds_between "$t0" "$t1")" \
            "$(cpu_of "$work/stime")" "$(cpu_of "$work/rtime")" \
            "$(rss_of "$work/stime")" "$(rss_of "$work/rtime")"
        rm -f "$work/raw/big.bin"
    done
    rm -f "$src"
}

case_tree() {
    local parent=$work/src/trees folders=100 files=10000 size=4096 rep t0 t1
    mkdir -p "$parent/tree" "$work/raw"
    python3 - "$parent/tree" "$folders" "$files" "$size" <<'EOF'
import os, sys
root, folders, files, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
for d in range(folders):
    os.makedirs(os.path.join(root, f"d{d:02}"), exist_ok=True)
for f in range(files):
    with open(os.path.join(root, f"d{f % folders:02}", f"f{f:05}.bin"), "wb") as out:
        out.write(os.urandom(size))
EOF
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

for name in ${cases//,/ }; do
    case $name in
    file | tree | text | discovery | eight) "case_$name" ;;
    *) fail "no case $name" ;;
    esac
done

load_after=$(cut -d' ' -f1-3 /proc/loadavg)
mkdir -p "$root/bench/results"
stamp=$(date +%Y-%m-%d-%H%M)
{
    echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo) RAM, Linux $(uname -r)"
    echo "load: $load_before before, $load_after after (1, 5, 15 minutes)"
    echo "velto: $(git -C "$root" describe --always --dirty) ($(basename "$(dirname "$(dirname "$cli")")") build of velto-cli at $cli)"
    echo "repetitions: $reps; files on tmpfs; hosts are network namespaces joined by veth pairs and a bridge"
} >"$work/machine"
python3 "$lan/report.py" "$raw" "$work/machine" "$root/bench/results/$stamp.md"
cp "$raw" "$root/bench/results/$stamp.tsv"
note "results in bench/results/$stamp.md"
