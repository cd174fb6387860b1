# shellcheck shell=bash
# The test LAN: a few computers made of network namespaces, for end-to-end tests and
# benchmarks. Source this file from bash (as root); nothing it starts can reach a real network.
#
#   source tests/testlan/testlan.sh
#   testlan_up 3                       # hosts h1 h2 h3 on 10.77.0.0/24
#   testlan_exec h1 hostname           # run a command on a host and wait for it
#   testlan_spawn h2 velto-cli receive >h2.log 2>&1   # start one in the background
#   pid=$TESTLAN_LAST_PID              #   ... its process id
#   testlan_ip h2                      # 10.77.0.12
#   testlan_home h2                    # that host's HOME (its Downloads, its ~/.face)
#   testlan_add_address h3 10.77.0.201 # one more address on a host (/24 unless given)
#   testlan_drop_broadcasts h1         # the host drops every broadcast it receives (nftables)
#   testlan_down                       # also runs by itself on exit, Ctrl-C or TERM
#
# Layout: host hI is the namespace "<id>-hI" with interface eth0 at 10.77.0.(10+I)/24 and lo up;
# each eth0 is one end of a veth pair whose other end is port "hI" of bridge br0, which lives
# in a namespace "<id>-br" of its own. IPv6 is off everywhere, so the only addresses are the
# LAN's. <id> ($TESTLAN_ID) holds the caller's process id, so several runs can share a machine;
# nothing is created in the caller's own namespace, which may itself be a private one
# (`unshare --net --fork`, as scripts/test.sh runs the suite).
#
# A command on a host runs in that host's namespace with a UTS namespace of its own (hostname
# "velto-hI"), HOME set to a fresh folder per host, XDG_CONFIG_HOME unset, and, where the
# machine has /etc/machine-info, an empty one of its own in its place, so every host has its
# own computer name, Downloads folder and picture.
#
# testlan_up installs `trap testlan_down EXIT INT TERM` (replacing the caller's traps for these
# signals). testlan_down ends every process in the hosts' namespaces (TERM, then KILL), deletes
# the namespaces (and so every veth and the bridge) and removes the home folders.

TESTLAN_ID=""
TESTLAN_HOSTS=0
TESTLAN_DIR=""
TESTLAN_PIDS=()
TESTLAN_LAST_PID=""
TESTLAN_SUBNET=10.77.0

_testlan_fail() {
    echo "testlan: $*" >&2
    return 1
}

# The host number of "hI", when it names a host of the running LAN.
_testlan_index() {
    local host=$1
    if [[ ! $host =~ ^h([1-9][0-9]*)$ ]] || ((BASH_REMATCH[1] > TESTLAN_HOSTS)); then
        _testlan_fail "no host '$host' (the LAN has h1..h$TESTLAN_HOSTS)"
        return 1
    fi
    echo "${BASH_REMATCH[1]}"
}

_testlan_namespaces() {
    local i
    echo "$TESTLAN_ID-br"
    for ((i = 1; i <= TESTLAN_HOSTS; i++)); do
        echo "$TESTLAN_ID-h$i"
    done
}

testlan_ns() {
    local index
    index=$(_testlan_index "$1") || return 1
    echo "$TESTLAN_ID-h$index"
}

testlan_ip() {
    local index
    index=$(_testlan_index "$1") || return 1
    echo "$TESTLAN_SUBNET.$((10 + index))"
}

testlan_home() {
    _testlan_index "$1" >/dev/null || return 1
    echo "$TESTLAN_DIR/$1/home"
}

testlan_hostname() {
    _testlan_index "$1" >/dev/null || return 1
    echo "velto-$1"
}

# Fills _TESTLAN_COMMAND with the words that run a command as host $1.
_testlan_command_for() {
    local host=$1 ns
    ns=$(testlan_ns "$host") || return 1
    # ip netns exec gives the command a mount namespace of its own, so the bind mount over
    # /etc/machine-info stays private to it.
    # shellcheck disable=SC2016
    local script='hostname "$1" || exit 125
        if [ -e /etc/machine-info ]; then mount --bind "$2" /etc/machine-info || exit 125; fi
        shift 2
        exec "$@"'
    _TESTLAN_COMMAND=(ip netns exec "$ns" unshare --uts -- env -u XDG_CONFIG_HOME
        HOME="$TESTLAN_DIR/$host/home" TESTLAN_HOST="$host"
        sh -c "$script" testlan "velto-$host" "$TESTLAN_DIR/$host/machine-info")
}

testlan_exec() {
    local _TESTLAN_COMMAND
    _testlan_command_for "$1" || return 1
    shift
    "${_TESTLAN_COMMAND[@]}" "$@"
}

# Starts the command in the background; its pid (that of the command itself, which the
# wrappers replace themselves with) is in TESTLAN_LAST_PID.
testlan_spawn() {
    local _TESTLAN_COMMAND
    _testlan_command_for "$1" || return 1
    shift
    "${_TESTLAN_COMMAND[@]}" "$@" &
    TESTLAN_LAST_PID=$!
    TESTLAN_PIDS+=("$TESTLAN_LAST_PID")
}

# Polls until a TCP (t) or UDP (u) port is bound on a host; false after seconds (default 10).
testlan_wait_for_port() {
    local ns tries
    ns=$(testlan_ns "$1") || return 1
    for ((tries = 0; tries < ${4:-10} * 50; tries++)); do
        [ -z "$(ss -N "$ns" -Hln"$2" "sport = :$3")" ] || return 0
        sleep 0.02
    done
    return 1
}

testlan_add_address() {
    local ns address=$2
    ns=$(testlan_ns "$1") || return 1
    [[ $address == */* ]] || address="$address/24"
    ip -n "$ns" addr add "$address" brd + dev eth0
}

# A network that keeps computers from announcing themselves: the host's firewall drops every
# incoming broadcast (the LAN's and 255.255.255.255); unicast passes.
testlan_drop_broadcasts() {
    local ns
    ns=$(testlan_ns "$1") || return 1
    ip netns exec "$ns" nft -f - <<'RULES'
table inet testlan_broadcasts {
    chain input {
        type filter hook input priority 0; policy accept;
        meta pkttype broadcast drop
    }
}
RULES
}

# Waits (at most about 5 s) until the host's eth0 reports that it is up, so that a test's first
# packet is not lost to a link still coming up.
_testlan_wait_for_link() {
    local ns=$1 tries
    for ((tries = 0; tries < 50; tries++)); do
        if ip -n "$ns" -o link show eth0 | grep -q 'state UP'; then
            return 0
        fi
        sleep 0.1
    done
    _testlan_fail "eth0 in $ns did not come up"
}

_testlan_add_host() {
    local i=$1 ns="$TESTLAN_ID-h$1" bridge="$TESTLAN_ID-br"
    mkdir -p "$TESTLAN_DIR/h$i/home" && : >"$TESTLAN_DIR/h$i/machine-info" &&
        ip netns add "$ns" &&
        ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 \
            net.ipv6.conf.default.disable_ipv6=1 &&
        ip -n "$bridge" link add "h$i" type veth peer name eth0 netns "$ns" &&
        ip -n "$bridge" link set "h$i" master br0 up &&
        ip -n "$ns" link set lo up &&
        ip -n "$ns" addr add "$TESTLAN_SUBNET.$((10 + i))/24" brd + dev eth0 &&
        ip -n "$ns" link set eth0 up
}

testlan_up() {
    local count=${1:-}
    if [[ ! $count =~ ^[1-9][0-9]*$ ]] || ((count > 200)); then
        _testlan_fail "testlan_up takes a host count from 1 to 200"
        return 1
    fi
    if [ -n "$TESTLAN_ID" ]; then
        _testlan_fail "a LAN is already up ($TESTLAN_ID)"
        return 1
    fi

    TESTLAN_ID="velto-lan-$BASHPID-$RANDOM"
    TESTLAN_HOSTS=$count
    TESTLAN_PIDS=()
    TESTLAN_DIR=$(mktemp -d "${TMPDIR:-/tmp}/$TESTLAN_ID.XXXXXX") || return 1
    trap testlan_down EXIT
    trap 'testlan_down; exit 130' INT
    trap 'testlan_down; exit 143' TERM

    local bridge="$TESTLAN_ID-br" i
    if ! { ip netns add "$bridge" &&
        ip netns exec "$bridge" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 \
            net.ipv6.conf.default.disable_ipv6=1 &&
        ip -n "$bridge" link add br0 type bridge stp_state 0 &&
        ip -n "$bridge" link set br0 up; }; then
        testlan_down
        _testlan_fail "cannot create the bridge (root and iproute2 are needed)"
        return 1
    fi
    for ((i = 1; i <= count; i++)); do
        if ! _testlan_add_host "$i"; then
            testlan_down
            _testlan_fail "cannot create host h$i"
            return 1
        fi
    done
    for ((i = 1; i <= count; i++)); do
        _testlan_wait_for_link "$TESTLAN_ID-h$i" || { testlan_down; return 1; }
    done
}

# The pids of every process inside the LAN's namespaces.
_testlan_all_pids() {
    local ns
    for ns in $(_testlan_namespaces); do
        ip netns pids "$ns" 2>/dev/null || true
    done
}

testlan_down() {
    [ -n "$TESTLAN_ID" ] || return 0
    # Every step may meet something already gone; none may stop the rest (callers use set -e).
    local pids tries ns pid
    pids=$(_testlan_all_pids)
    if [ -n "$pids" ]; then
        # shellcheck disable=SC2086
        kill -TERM $pids 2>/dev/null || true
        for ((tries = 0; tries < 30; tries++)); do
            pids=$(_testlan_all_pids)
            [ -n "$pids" ] || break
            sleep 0.1
        done
        # shellcheck disable=SC2086
        [ -z "$pids" ] || kill -KILL $pids 2>/dev/null || true
    fi
    for pid in "${TESTLAN_PIDS[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    for ns in $(_testlan_namespaces); do
        ip netns del "$ns" 2>/dev/null || true
    done
    [ -z "$TESTLAN_DIR" ] || rm -rf "$TESTLAN_DIR"
    TESTLAN_ID=""
    TESTLAN_HOSTS=0
    TESTLAN_DIR=""
    TESTLAN_PIDS=()
    return 0
}
