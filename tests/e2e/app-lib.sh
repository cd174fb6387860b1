# shellcheck shell=bash
# The desktop program on test LAN hosts, each under an Xvfb of its own, driven through its page
# (pagectl.py over the web engine's debugging port 9222, which only the host itself can reach).
# Source after tests/testlan/testlan.sh, with VELTO_APP set to the program to run.
#
#   app_start HOST DISPLAY "Full Name" [RUNTIME [ARGUMENT...]]
#                                                 the program as that user on that host's own
#                                                 screen; its pid in TESTLAN_LAST_PID, its output
#                                                 in ~/velto-RUNTIME.log of the host
#   app_page HOST eval|wait EXPRESSION [SECONDS]  pagectl.py on that host's program
#   app_shoot HOST DISPLAY FILE                   the host's screen as a PNG file
#   app_fail REASON...; app_need_root             a scenario's failure; its root check

app_start() {
    local host=$1 display=$2 name=$3 runtime=${4:-run}
    # shellcheck disable=SC2016
    testlan_spawn "$host" bash -c '
        cp /etc/passwd "$HOME/.passwd"
        sed -i "s/^root:\([^:]*\):0:0:[^:]*:/root:\1:0:0:$3:/" "$HOME/.passwd"
        mount --bind "$HOME/.passwd" /etc/passwd
        # A screen left behind by a run that was killed leaves its socket and lock: start anew.
        if [ -e "/tmp/.X$2-lock" ] && ! kill -0 "$(tr -d " " <"/tmp/.X$2-lock")" 2>/dev/null; then
            rm -f "/tmp/.X$2-lock" "/tmp/.X11-unix/X$2"
        fi
        if [ ! -e "/tmp/.X11-unix/X$2" ]; then
            Xvfb ":$2" -screen 0 980x660x24 -nolisten tcp >/dev/null 2>&1 &
            for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$2" ] && break; sleep 0.1; done
        fi
        mkdir -p "$HOME/$4" && chmod 700 "$HOME/$4"
        export DISPLAY=":$2" XDG_RUNTIME_DIR="$HOME/$4" QTWEBENGINE_REMOTE_DEBUGGING=9222 \
               QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
        exec "$1" "${@:5}" >>"$HOME/velto-$4.log" 2>&1' start "$VELTO_APP" "$display" "$name" "$runtime" \
        "${@:5}"
}

# For the scenarios: a failure with its reason and the end of h2's program log; the test LAN
# needs root (without it, status 77: skipped).
app_fail() {
    echo "FAIL: $*" >&2
    tail -5 "$(testlan_home h2)/velto-run.log" >&2 || true
    exit 1
}
app_need_root() { [ "$(id -u)" -eq 0 ] || { echo "the test LAN needs root; skipped"; exit 77; }; }

app_page() {
    testlan_exec "$1" python3 "$(dirname "${BASH_SOURCE[0]}")/pagectl.py" 9222 "${@:2}"
}

app_shoot() { testlan_exec "$1" env DISPLAY=":$2" import -window root "$3"; }
