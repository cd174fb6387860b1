#!/usr/bin/env bash
# Builds Velto's Debian packages from this tree into build/packages/:
#   velto            the desktop program, its menu entry, software-centre data, icons, manual
#                    and "Send with Velto" for Dolphin and Nemo
#   velto-cli        velto-cli, its manual, bash completion and the velto-receive user service
#   velto-common     the firewall profiles that both need (firewalld "velto", ufw "Velto")
#   libveltokit0     the library
#   libveltokit-dev  its headers, CMake package and pkg-config file
# Dependencies come from the binaries (dpkg-shlibdeps); the version from the project, which
# must match the top entry of packaging/debian/changelog. The build folder is build/package
# (Release with debug info, like the ci preset, so ccache serves what the ci build compiled).
# Usage: scripts/package.sh [--check]    (--check: then scripts/check-packages.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
umask 022

bash scripts/setup.sh
export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER-ccache}
build=$root/build/package
out=$root/build/packages
work=$root/build/package-staging
maintainer=${VELTO_MAINTAINER:-Velto developers <velto@example.org>}

cmake --preset package >/dev/null
nice cmake --build --preset package

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
changelog=$root/packaging/debian/changelog
logged=$(sed -n '1s/^velto (\([^)]*\)).*/\1/p' "$changelog")
if [ "$logged" != "$version" ]; then
    echo "package: the project is version $version, packaging/debian/changelog's top entry $logged" >&2
    exit 1
fi
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)

rm -rf "$work" "$out"
mkdir -p "$work/debian" "$out"
cd "$work"
# dpkg-shlibdeps reads the source package's control file.
{
    echo "Source: velto"
    for package in velto velto-cli velto-common libveltokit0 libveltokit-dev; do
        printf '\nPackage: %s\nArchitecture: any\n' "$package"
    done
} >debian/control

stage() { # package component
    DESTDIR=$work/debian/$1 cmake --install "$build" --component "$2" --strip >/dev/null
}
stage velto Program
stage velto-cli Cli
stage velto-common Common
stage libveltokit-dev VeltoKit
# The runtime library is its own package; the link name stays with the headers.
mkdir -p "debian/libveltokit0/usr/lib/$multiarch"
mv debian/libveltokit-dev/usr/lib/"$multiarch"/libveltokit.so.* "debian/libveltokit0/usr/lib/$multiarch/"
chmod 0644 debian/libveltokit0/usr/lib/"$multiarch"/libveltokit.so.*.*
# dpkg-shlibdeps knows the packages' folders by their DEBIAN folders.
mkdir -p debian/{velto,velto-cli,velto-common,libveltokit0,libveltokit-dev}/DEBIAN
echo "libveltokit 0 libveltokit0 (>= $version)" >debian/libveltokit0/DEBIAN/shlibs
echo "activate-noawait ldconfig" >debian/libveltokit0/DEBIAN/triggers

# Depends of a package: what its ELF files need (the web engine's helper process included:
# its library names it), then what it names itself.
depends() { # package extra...
    local package=$1 elves shlibs=
    shift
    mapfile -t elves < <(find "debian/$package" -type f -exec sh -c \
        'head -c 4 "$1" | grep -q ELF' sh {} \; -print)
    if [ ${#elves[@]} -gt 0 ]; then
        shlibs=$(dpkg-shlibdeps -O -l"debian/libveltokit0/usr/lib/$multiarch" "${elves[@]}" |
            sed -n 's/^shlibs:Depends=//p')
    fi
    local all=("$@")
    [ -n "$shlibs" ] && all=("$shlibs" "${all[@]}")
    local IFS=, joined
    joined="${all[*]}"
    echo "${joined//,/, }"
}

package() { # package architecture section depends summary (description on stdin)
    local package=$1 architecture=$2 section=$3 depends=$4 summary=$5 dir=debian/$1
    mkdir -p "$dir/DEBIAN" "$dir/usr/share/doc/$package"
    cp "$root/packaging/debian/copyright" "$dir/usr/share/doc/$package/"
    gzip -9n <"$changelog" >"$dir/usr/share/doc/$package/changelog.gz"
    find "$dir/usr/share/man" -type f ! -name '*.gz' -exec gzip -9n {} + 2>/dev/null || true
    find "$dir/etc" -type f -printf '/etc/%P\n' 2>/dev/null >"$dir/DEBIAN/conffiles" || true
    [ -s "$dir/DEBIAN/conffiles" ] || rm -f "$dir/DEBIAN/conffiles"
    (cd "$dir" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z |
        xargs -0 -r md5sum >DEBIAN/md5sums)
    {
        echo "Package: $package"
        echo "Source: velto"
        echo "Version: $version"
        echo "Architecture: $architecture"
        echo "Maintainer: $maintainer"
        echo "Installed-Size: $(du -sk --exclude=DEBIAN "$dir" | cut -f1)"
        [ -n "$depends" ] && echo "Depends: $depends"
        echo "Section: $section"
        echo "Priority: optional"
        echo "Description: $summary"
        sed 's/^$/./; s/^/ /'
    } >"$dir/DEBIAN/control"
    dpkg-deb --root-owner-group -Zxz --build "$dir" "$out/${package}_${version}_${architecture}.deb" >/dev/null
}

package libveltokit0 "$arch" libs "$(depends libveltokit0)" \
    "library of Velto, LAN file and text transfer" <<'TEXT'
VeltoKit finds the computers of the local network that run Velto and sends
them texts, files and folders, and receives from them: discovery, transfers,
the settings of what is let in, and the events that front ends show.
TEXT
package libveltokit-dev "$arch" libdevel \
    "$(depends libveltokit-dev "libveltokit0 (= $version)" "nlohmann-json3-dev (>= 3)")" \
    "library of Velto, LAN file and text transfer - development files" <<'TEXT'
The headers of VeltoKit, its CMake package (find_package(VeltoKit)) and its
pkg-config file (veltokit), to build programs against the library.
TEXT
package velto-common all net "" "firewall profiles for Velto, LAN file and text transfer" <<'TEXT'
A firewalld service (velto) and a ufw application profile (Velto) that open
the ports Velto uses on the local network: UDP 4644 to find the other
computers, TCP 4644 for transfers and TCP 4645 for names and pictures.
TEXT
package velto "$arch" net \
    "$(depends velto "velto-common (= $version)" qt6-qpa-plugins)" \
    "send texts, files and folders to computers on your network" <<'TEXT'
Velto finds the other computers of the local network by itself and sends them
texts, files and whole folders, without a server or an account. What arrives
waits in Downloads; the settings decide who may send: everyone, after asking,
only trusted computers, or no one. "Send with Velto" sends from Dolphin and
Nemo.
TEXT
package velto-cli "$arch" net "$(depends velto-cli "velto-common (= $version)")" \
    "send and receive with Velto from a terminal" <<'TEXT'
velto-cli lists the computers of the local network that run Velto, sends them
texts, files and folders, receives from them and changes the settings that it
shares with the desktop program. The user service velto-receive receives in
the background, also on a machine without a desktop.
TEXT

cd "$root"
ls -1 "$out"
if [ "${1:-}" = --check ]; then
    bash scripts/check-packages.sh "$out"
fi
