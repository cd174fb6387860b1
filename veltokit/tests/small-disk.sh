#!/usr/bin/env bash
# Runs the full-disk cases of the unit tests on a small tmpfs in a mount namespace of their own,
# so that nothing of the machine's file systems fills up. Skips (77) where mounting is not
# permitted.
set -euo pipefail
tests=$1
if ! unshare --mount --propagation private true 2>/dev/null; then
    echo "small-disk: skipped, this user may not make a mount namespace" >&2
    exit 77
fi
exec unshare --mount --propagation private bash -c '
    disk=$(mktemp -d)
    if ! mount -t tmpfs -o size=32m tmpfs "$disk"; then
        echo "small-disk: skipped, tmpfs cannot be mounted here" >&2
        exit 77
    fi
    VELTO_SMALL_DISK=$disk "$0" --gtest_filter="SmallDisk.*"
' "$tests"
