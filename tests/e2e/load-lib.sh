# shellcheck shell=bash disable=SC2034  # the figures noted here are read by the scenarios
# Helpers for the fault and load scenarios, on top of the transfer helpers: the figures of a
# running process (open descriptors, threads, resident memory, read from /proc: the test LAN's
# hosts share the process id space) and a receiver whose figures are taken at its start.
# Source with the velto-cli to run as argument.

# shellcheck source=transfer-lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/transfer-lib.sh" "$1"
E2E_TOOLS=$(cd "$(dirname "${BASH_SOURCE[0]}")/tools" && pwd)

# Keeps ASan's quarantine of freed memory small in sanitizer builds, so that resident memory
# says something about what the program holds; other builds ignore it.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=8"

fds_of() { find "/proc/$1/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l; }
threads_of() { awk '/^Threads:/ { print $2 }' "/proc/$1/status"; }
rss_kb_of() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }

# "fds=12 threads=6 rss=20480kB" for a process.
figures_of() { echo "fds=$(fds_of "$1") threads=$(threads_of "$1") rss=$(rss_kb_of "$1")kB"; }

# Starts a receiver on a host, with its diagnostic lines in receiver.err, and notes its process
# (INSTANCE, on INSTANCE_HOST) and figures (BEFORE_FDS, BEFORE_THREADS, BEFORE_RSS).
start_measured_receiver() {
    start_receiver "$1" --verbose
    INSTANCE=$TESTLAN_LAST_PID
    INSTANCE_HOST=$1
    note_figures
}

# Waits (at most about 30 s) until a load generator's output has a line matching a pattern;
# fails with the message given otherwise: wait_for_output FILE PATTERN MESSAGE.
wait_for_output() {
    local tries
    for ((tries = 0; tries < 300; tries++)); do
        grep -q -- "$2" "$1" && return 0
        sleep 0.1
    done
    fail "$3"
}

# How many of a host's receiver's diagnostic lines match a pattern.
count_diagnostics() { grep -c -- "$2" "$(testlan_home "$1")/receiver.err" || true; }

note_figures() {
    BEFORE_FDS=$(fds_of "$INSTANCE")
    BEFORE_THREADS=$(threads_of "$INSTANCE")
    BEFORE_RSS=$(rss_kb_of "$INSTANCE")
    echo "before: $(figures_of "$INSTANCE")"
}

# Stops the receiver as a user would (TERM) and expects a clean exit: in the AddressSanitizer
# build this is where memory that nothing refers to any more is reported as leaked.
stop_measured_receiver() {
    local status=0
    kill -TERM "$INSTANCE"
    wait "$INSTANCE" || status=$?
    if ((status != 0)); then
        tail -n 30 "$(testlan_home "$INSTANCE_HOST")/receiver.err" >&2
        fail "the receiver ended with status $status"
    fi
    echo "receiver stopped cleanly"
}

# Waits (at most $1 seconds, default 5) until the receiver holds no more descriptors than at the
# start: those of dropped connections go as it gets round to closing them.
wait_for_descriptors_released() {
    local tries
    for ((tries = 0; tries < ${1:-5} * 10; tries++)); do
        (($(fds_of "$INSTANCE") <= BEFORE_FDS)) && return 0
        sleep 0.1
    done
}

# Sends from one host to the receiver on another, expects velto-cli to succeed, and waits (at
# most about 60 s) until the receiver reports one more finished transfer: the sender is done
# once its last byte is handed over, the receiver once the result is published.
send_and_wait() {
    local from=$1 receiver=$2 before tries
    shift 2
    before=$(count_events "$receiver" transfer-finished)
    testlan_exec "$from" "$VELTO_CLI" send "$@" >/dev/null || fail "send $* from $from failed"
    for ((tries = 0; tries < 600; tries++)); do
        (($(count_events "$receiver" transfer-finished) > before)) && return 0
        sleep 0.1
    done
    fail "$receiver did not finish receiving $*"
}

# Fails unless a figure grew by at most limit: expect_growth_at_most NAME BEFORE AFTER LIMIT.
expect_growth_at_most() {
    local name=$1 before=$2 after=$3 limit=$4
    if ((after - before > limit)); then
        fail "$name grew from $before to $after (more than $limit)"
    fi
}

# The same for resident memory (kB). Under ThreadSanitizer resident memory holds the shadow of
# every byte the program has touched and never shrinks, so it says nothing about what the
# program keeps: there the figure is shown, not checked.
expect_memory_growth_at_most() {
    if [[ ${VELTO_E2E_SANITIZE:-} == *thread* ]]; then
        echo "resident memory from $1 to $2 kB, not checked under ThreadSanitizer"
        return 0
    fi
    expect_growth_at_most "resident memory (kB)" "$@"
}
