#!/usr/bin/env bash
# Fails, listing the files, when a tracked C++ file differs from what clang-format makes of it.
#   scripts/check-format.sh          check
#   scripts/check-format.sh --fix    rewrite the files in place
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
    clang-format -i "${files[@]}"
    exit 0
fi
# One run over every file; its warnings name the files that differ.
if ! report=$(clang-format --dry-run --Werror "${files[@]}" 2>&1); then
    echo "not formatted (scripts/check-format.sh --fix):"
    grep -o '^[^:]*:[0-9]*:[0-9]*: error' <<<"$report" | cut -d: -f1 | sort -u | sed 's/^/  /'
    exit 1
fi
echo "${#files[@]} files formatted"
