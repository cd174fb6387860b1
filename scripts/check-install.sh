#!/usr/bin/env bash
# Installs the packages of build/packages/ into a throwaway root and takes them out again: an
# overlay over this system's root in a mount and network namespace of its own, whose changes
# live in memory and vanish with it; the machine itself is never touched, and nothing is
# downloaded (no network in there). Checks that
# "apt-get install ./*.deb" installs cleanly (every dependency already on this system), that
# velto-cli --help and man velto-cli work, that systemd accepts the user service, and that purging
# the packages leaves none of their files behind.
# Usage: scripts/check-install.sh [folder of the .deb files, default build/packages]   (as root)
set -euo pipefail
cd "$(dirname "$0")/.."
packages=$(realpath "${1:-build/packages}")
[ "$(id -u)" -eq 0 ] || { echo "check-install: needs root (mount namespaces)" >&2; exit 1; }
ls "$packages"/*.deb >/dev/null

exec unshare --mount --net --fork -- bash -s "$packages" <<'INSIDE'
set -euo pipefail
packages=$1
mount --make-rprivate /
scratch=$(mktemp -d)
mount -t tmpfs tmpfs "$scratch"
mkdir "$scratch"/{upper,work,root}
root=$scratch/root
mount -t overlay overlay -o "lowerdir=/,upperdir=$scratch/upper,workdir=$scratch/work" "$root"
mount --rbind /dev "$root/dev"
mount -t proc proc "$root/proc"
mount -t tmpfs tmpfs "$root/tmp"
mount -t tmpfs tmpfs "$root/run"
mkdir "$root/tmp/debs"
cp "$packages"/*.deb "$root/tmp/debs/"
inside() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"; }
fail() { echo "FAIL: $*" >&2; exit 1; }

names=$(for deb in "$packages"/*.deb; do dpkg-deb -f "$deb" Package; done)
# Every file and link of the packages that this system does not have already.
for deb in "$packages"/*.deb; do
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print substr($6, 2) }'
done | while read -r path; do [ -e "$root$path" ] || [ -L "$root$path" ] || echo "$path"; done \
    >"$scratch/theirs"
[ -s "$scratch/theirs" ] || fail "the packages' files are on this system already"

echo "== install"
start=$EPOCHREALTIME
inside sh -c 'apt-get install -y -o Dpkg::Use-Pty=0 /tmp/debs/*.deb' >"$scratch/apt.log" 2>&1 ||
    { cat "$scratch/apt.log"; fail "apt-get install failed"; }
grep -E '^(E|W):' "$scratch/apt.log" && fail "apt-get reported problems"
for name in $names; do
    inside dpkg-query -W -f='${Status}\n' "$name" | grep -q 'install ok installed' ||
        fail "$name is not installed"
done
printf 'installed %s in %.1f s\n' "$(echo $names)" "$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }')"

echo "== use"
inside velto-cli --help | grep -q '^Usage: velto-cli' || fail "velto-cli --help"
inside env MANPAGER=cat MANWIDTH=80 man velto-cli | grep -q 'velto-cli - send and receive' ||
    fail "man velto-cli"
inside env MANPAGER=cat man velto | grep -q 'velto - send texts' || fail "man velto"
inside systemd-analyze verify /usr/lib/systemd/user/velto-receive.service || fail "systemd-analyze verify"
inside pkg-config --modversion veltokit | grep -qx "$(dpkg-deb -f "$packages"/libveltokit0_*.deb Version)" ||
    fail "pkg-config veltokit"
inside ldd /usr/bin/velto | grep -q 'not found' && fail "velto lacks libraries: $(inside ldd /usr/bin/velto | grep 'not found')"
echo "velto-cli --help, man velto-cli, man velto, the user service and pkg-config work"

echo "== purge"
inside apt-get purge -y -o Dpkg::Use-Pty=0 $names >"$scratch/apt.log" 2>&1 ||
    { cat "$scratch/apt.log"; fail "apt-get purge failed"; }
left=$(while read -r path; do
    if [ -e "$root$path" ] || [ -L "$root$path" ]; then echo "$path"; fi
done <"$scratch/theirs")
[ -z "$left" ] || fail "left behind after the purge: $left"
for name in $names; do
    inside dpkg-query -W "$name" >/dev/null 2>&1 && fail "dpkg still knows $name"
done
echo "purged: none of the packages' $(wc -l <"$scratch/theirs") files is left, dpkg knows none of them"
INSIDE
