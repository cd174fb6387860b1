#!/usr/bin/env bash
# Checks the Debian packages that scripts/package.sh wrote: each holds what it must (dpkg-deb -c),
# lintian finds no error, the software-centre data and the desktop entry validate, and systemd
# accepts the user service.
# Usage: scripts/check-packages.sh [folder of the .deb files, default build/packages]
set -euo pipefail
cd "$(dirname "$0")/.."
packages=$(realpath "${1:-build/packages}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() {
    echo "FAIL: $*" >&2
    status=1
}

# The files each package must hold, one pattern (grep -E, against dpkg-deb -c's names) a line.
declare -A expected=(
    [velto]='usr/bin/velto$ usr/share/applications/velto\.desktop$ usr/share/metainfo/velto\.metainfo\.xml$
        usr/share/icons/hicolor/scalable/apps/velto\.svg$ usr/share/man/man1/velto\.1\.gz$
        usr/share/kio/servicemenus/velto-send\.desktop$ usr/share/nemo/actions/velto-send\.nemo_action$'
    [velto-cli]='usr/bin/velto-cli$ usr/lib/systemd/user/velto-receive\.service$
        usr/share/bash-completion/completions/velto-cli$ usr/share/man/man1/velto-cli\.1\.gz$'
    [velto-common]='etc/ufw/applications\.d/velto$ usr/lib/firewalld/services/velto\.xml$'
    [libveltokit0]='usr/lib/[^/]+/libveltokit\.so\.0 usr/lib/[^/]+/libveltokit\.so\.0\.'
    [libveltokit-dev]='usr/include/velto/VeltoServer\.h$ usr/lib/[^/]+/libveltokit\.so[^.]
        usr/lib/[^/]+/cmake/VeltoKit/VeltoKitConfig\.cmake$ usr/lib/[^/]+/pkgconfig/veltokit\.pc$'
)
for package in "${!expected[@]}"; do
    deb=$(find "$packages" -name "${package}_*.deb" | head -n 1)
    [ -n "$deb" ] || { fail "no package $package in $packages"; continue; }
    contents=$(dpkg-deb -c "$deb")
    for pattern in ${expected[$package]}; do
        grep -qE "\./$pattern" <<<"$contents" || fail "$package lacks $pattern"
    done
    grep -qE "\./usr/share/doc/$package/copyright$" <<<"$contents" || fail "$package has no copyright file"
    dpkg-deb -x "$deb" "$work/root"
done
# The program's icon at every size the desktop asks for.
for size in 16 24 32 48 64 128 256; do
    [ "$(identify -format '%wx%h' "$work/root/usr/share/icons/hicolor/${size}x$size/apps/velto.png" 2>/dev/null)" = "${size}x$size" ] ||
        fail "no ${size}x$size icon"
done

echo "== lintian"
# Judged by its report: its status is not 0 for warnings either.
{ lintian --tag-display-limit 0 "$packages"/*.deb 2>&1 || true; } | { grep -v 'root privileges' || true; } |
    tee "$work/lintian"
! grep -q '^E:' "$work/lintian" || fail "lintian reports errors"

echo "== metainfo, desktop entry"
# A component id that is not reverse-DNS is only a warning: the desktop entry keeps its name.
appstreamcli validate --no-net "$work/root/usr/share/metainfo/velto.metainfo.xml" | tee "$work/appstream" || true
! grep -q '^E:' "$work/appstream" || fail "appstreamcli reports errors"
desktop-file-validate "$work/root/usr/share/applications/velto.desktop" || fail "desktop entry"

echo "== user service"
# systemd-analyze checks that the command exists: point the unit at the package's binary.
sed "s#=/usr/bin/#=$work/root/usr/bin/#" "$work/root/usr/lib/systemd/user/velto-receive.service" \
    >"$work/velto-receive.service"
MANPATH=$work/root/usr/share/man systemd-analyze verify "$work/velto-receive.service" ||
    fail "systemd-analyze verify velto-receive.service"

[ "$status" -eq 0 ] && echo "packages: all checks held"
exit "$status"
