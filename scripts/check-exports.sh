#!/usr/bin/env bash
# Installs VeltoKit from a build folder to a temporary prefix and checks it as another project
# sees it: the shared library exports nothing of Boost and nothing of a class or function that
# no installed header declares; an out-of-tree program builds against the install once through
# find_package(VeltoKit) and once through pkg-config, and each build sends a text from one
# instance to another in a network namespace of its own.
# Usage: scripts/check-exports.sh <build folder>
set -euo pipefail

build=$(realpath "${1:?usage: check-exports.sh <build folder>}")
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --component VeltoKit --prefix "$prefix" >/dev/null
headers=$prefix/include/velto
library=$(find "$prefix" -name 'libveltokit.so' | head -n 1)
[[ -n $library ]] || { echo "libveltokit.so was not installed" >&2; exit 1; }

symbols=$(nm -D --defined-only -C "$library" | cut -d' ' -f3-)
echo "exported symbols: $(wc -l <<<"$symbols")"
status=0
if grep -F 'boost::' <<<"$symbols" | head -n 5 | grep . >&2; then
    echo "the library exports Boost symbols" >&2
    status=1
fi
# Each exported name of the library's own namespace (or of a namespace inside it that an
# installed header opens) must be a class or struct defined, or a function declared, in an
# installed header.
identifier='[A-Za-z_][A-Za-z0-9_]*'
owners=$(grep -oE "(^|for )velto::$identifier(::$identifier)?" <<<"$symbols" | sed 's/.*velto:://' \
    | sort -u)
for owner in $owners; do
    name=${owner%%::*}
    if [[ $owner == *::* ]] && grep -rqE "^namespace $name \{" "$headers"; then
        name=${owner#*::}
    fi
    if ! grep -rqE "^(class|struct) (VELTO_EXPORT )?$name\b[^;]*\$|\b$name\(" "$headers"; then
        echo "exported, but declared in no installed header: velto::$name" >&2
        status=1
    fi
done
if grep -vE '(^|for )velto::' <<<"$symbols" | grep -vE '^(typeinfo|typeinfo name|vtable) for std::' \
    | grep . >&2; then
    echo "the library exports names outside its namespace" >&2
    status=1
fi
[[ $status -eq 0 ]] || exit "$status"

example=$root/examples/send-text
cmake -S "$example" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/cmake-build" >/dev/null
export PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name veltokit.pc)")
libdir=$(pkg-config --variable=libdir veltokit)
# shellcheck disable=SC2046
c++ -std=c++20 -o "$work/pkgconfig-send-text" "$example/main.cpp" $(pkg-config --cflags --libs veltokit) \
    -Wl,-rpath,"$libdir"

export HOME=$work/home
mkdir -p "$HOME"
for program in "$work/cmake-build/velto-send-text" "$work/pkgconfig-send-text"; do
    bash "$root/scripts/private-netns.sh" "$program" "sent through $(basename "$program")"
done
