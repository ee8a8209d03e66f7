#!/usr/bin/env bash
# The application manifests as the programs carry them (read back from the PE resources):
# one RT_MANIFEST resource 1 with the program's execution level and the four supported
# Windows versions (7, 8, 8.1, 10/11).
#   manifests_test.sh <program.exe> <level> [<program.exe> <level> ...]
set -uo pipefail
source "$(dirname "$0")/../wine/wine-checks.sh"
while [ $# -ge 2 ]; do
    exe="$1" level="$2"
    shift 2
    rc="$(x86_64-w64-mingw32-windres -i "$exe" -O rc 2>/dev/null | tr -d '\r')"
    name="$(basename "$exe")"
    check "$name: one manifest resource, id 1" 1 "$(grep -c '^1 24 ' <<<"$rc")"
    check "$name: execution level" "$level" \
        "$(grep -o 'requestedExecutionLevel level=""[A-Za-z]*""' <<<"$rc" | sed 's/.*=""\(.*\)""/\1/')"
    check "$name: supported Windows versions" 4 "$(grep -c 'supportedOS Id=' <<<"$rc")"
done
[ "$failures" -eq 0 ]
