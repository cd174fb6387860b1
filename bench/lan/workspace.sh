# shellcheck shell=bash
# The bench's place to work, for bench/run.sh and bench/strace-file.sh: a tmpfs of its own (also
# the temporary folder of everything started from here) and the test LAN, both taken down on
# exit. Source from the source tree's root, as root, inside a private mount namespace.
#   bench_workspace NAME SIZE HOSTS   sets work to the tmpfs's folder (/tmp/NAME.XXXXXX)
# shellcheck source=../../tests/testlan/testlan.sh
source tests/testlan/testlan.sh

bench_workspace() {
    work=$(mktemp -d "/tmp/$1.XXXXXX")
    mount -t tmpfs -o "size=$2" tmpfs "$work"
    export TMPDIR=$work
    testlan_up "$3"
    trap bench_workspace_cleanup EXIT
    trap 'bench_workspace_cleanup; exit 130' INT
    trap 'bench_workspace_cleanup; exit 143' TERM
}

bench_workspace_cleanup() {
    testlan_down
    umount "$work" 2>/dev/null || true
    rmdir "$work" 2>/dev/null || true
}
