#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Velto needs.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
    # build
    cmake ninja-build g++ pkg-config clang clang-format git
    # library
    libboost-dev libstb-dev libcli11-dev nlohmann-json3-dev
    # desktop program
    qt6-base-dev qt6-webengine-dev qt6-webchannel-dev libqt6webenginecore6-bin
    libgl-dev qt6-base-dev-tools qt6-qpa-plugins qt6-l10n-tools
    # tests
    libgtest-dev libgmock-dev xvfb xauth dbus iproute2 iputils-ping curl tcpdump procps nftables
    xdotool imagemagick python3 python3-dbus python3-gi nodejs jq dunst
    # icons, Debian packages and their checks, the completion test
    librsvg2-bin dpkg-dev lintian appstream desktop-file-utils bash-completion
    # sanitizer runtimes for clang builds, benchmarks
    libclang-rt-14-dev libbenchmark-dev socat netcat-openbsd
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "setup: all ${#packages[@]} packages present"
    exit 0
fi

echo "setup: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
else
    SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
