#!/usr/bin/env bash
# The version resources as the programs carry them (read back from the PE resources): one
# VERSIONINFO whose numeric and text file and product versions are the project's version, a
# description, and the program's own file name as its original name (the setup program and the
# uninstaller it writes share one resource, so they are not checked for a name).
#   versions_test.sh <version, e.g. 1.0.0> <program or DLL> [...]
set -uo pipefail
source "$(dirname "$0")/../wine/wine-checks.sh"
version="$1"
shift
numeric="$(tr '.' ',' <<<"$version" | sed 's/,/, /g'), 0"
for file in "$@"; do
    name="$(basename "$file")"
    if [ ! -f "$file" ]; then
        check "$name is built" yes no
        continue
    fi
    rc="$(x86_64-w64-mingw32-windres -i "$file" -O rc 2>/dev/null | tr -d '\r' | sed -n '/VERSIONINFO$/,$p')"
    value() { grep -o "VALUE \"$1\", \"[^\"]*\"" <<<"$rc" | sed 's/.*, "\(.*\)"/\1/'; }
    check "$name: one version resource" 1 "$(grep -c 'VERSIONINFO$' <<<"$rc")"
    check "$name: numeric file and product version" "$numeric|$numeric" \
        "$(sed -n 's/^ FILEVERSION //p' <<<"$rc")|$(sed -n 's/^ PRODUCTVERSION //p' <<<"$rc")"
    check "$name: file and product version texts" "$version.0|$version.0" \
        "$(value FileVersion)|$(value ProductVersion)"
    check "$name: a description" yes "$([ -n "$(value FileDescription)" ] && echo yes || echo no)"
    case "$name" in
    *-setup.exe | uninstall.exe) ;;
    *) check "$name: original file name" "$name" "$(value OriginalFilename)" ;;
    esac
done
[ "$failures" -eq 0 ]
