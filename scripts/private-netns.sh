#!/usr/bin/env bash
# Runs a command in a network namespace of its own with only loopback up, so that tests that
# bind the fixed ports can run side by side and never reach a real network.
set -euo pipefail
exec unshare --net -- bash -c 'ip link set lo up && exec "$@"' private-netns "$@"
