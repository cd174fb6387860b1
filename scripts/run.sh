#!/usr/bin/env bash
# Sets up, builds and starts Velto.
#
#   scripts/run.sh            the program on your desktop, on your own network: what a user runs
#   scripts/run.sh --private  a trial run inside a private network namespace with only loopback
#                             up (and under Xvfb when there is no display), so that nothing it
#                             announces reaches a real network; for workplaces and tests
#
# Other arguments are passed on to the program.
set -euo pipefail
cd "$(dirname "$0")/.."

private=false
if [ "${1:-}" = --private ]; then
    private=true
    shift
fi

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target velto -j2
velto=$PWD/build/default/app/velto

# The web engine refuses to run as root without this; a desktop user never needs it.
if [ "$(id -u)" -eq 0 ]; then
    export QTWEBENGINE_DISABLE_SANDBOX=1
fi

if ! $private; then
    exec "$velto" "$@"
fi

runtime=$(mktemp -d /tmp/velto-private.XXXXXX)
# shellcheck disable=SC2016
exec unshare --net --fork -- bash -c '
    ip link set lo up
    export XDG_RUNTIME_DIR="$1"
    shift
    if [ -z "${DISPLAY:-}" ]; then
        export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu}"
        exec xvfb-run -a -s "-screen 0 1280x800x24" "$@"
    fi
    exec "$@"' private "$runtime" "$velto" "$@"
