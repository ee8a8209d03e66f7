#!/usr/bin/env bash
# Prepares the Wine prefix that the Windows tests run in (once; later calls return at once).
# A second argument names a directory to clone the prepared prefix into, for tests that need
# a prefix of their own (services, COM registration).
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

prepare() {
    local prefix="$1"
    if [ -f "$prefix/.fp-ready" ]; then return 0; fi
    mkdir -p "$(dirname "$prefix")"
    local lock="$prefix.lock"
    exec 9>"$lock"
    flock 9
    if [ ! -f "$prefix/.fp-ready" ]; then
        rm -rf "$prefix"
        WINEPREFIX="$prefix" wineboot --init >/dev/null 2>&1 || true
        WINEPREFIX="$prefix" wine reg add 'HKCU\Software\Wine\Drivers' /reg:64 /v Graphics /d null /f >/dev/null 2>&1
        WINEPREFIX="$prefix" wineserver -w || true
        touch "$prefix/.fp-ready"
    fi
    flock -u 9
}

prepare "$WINEPREFIX"

if [ $# -ge 1 ]; then
    dest="$1"
    rm -rf "$dest"
    mkdir -p "$(dirname "$dest")"
    # Hard links for the bulk, fresh copies of the registry files (Wine rewrites them in place).
    cp -al "$WINEPREFIX" "$dest"
    rm -f "$dest"/*.reg
    cp "$WINEPREFIX"/*.reg "$dest"/
fi
