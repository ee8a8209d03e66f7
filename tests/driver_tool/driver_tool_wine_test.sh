#!/usr/bin/env bash
# The driver tool (Brevick) and its launcher under Wine, in a private prefix:
#   driver_tool_wine_test.sh Brevick.exe BrevickLauncher.exe holder.exe standin.exe workdir
# Wine reports success for driver updates even when no device matches, so the panel's absence
# is covered by the portable tests; here: INF files, the single-instance mutex, and where and
# how the launcher starts the installer.
set -uo pipefail

installer="$1" launcher="$2" holder="$3" standin="$4" work="$5"
repo="$(cd "$(dirname "$0")/../.." && pwd)"

rm -rf "$work"
mkdir -p "$work"
bash "$repo/tests/wine/wine-prefix.sh" "$work/prefix" || { echo "FAIL: no prefix"; exit 1; }
source "$repo/tests/wine/wine-env.sh"
export WINEPREFIX="$work/prefix"
holder_pid=""
finish() {
    [ -n "$holder_pid" ] && { touch "$work/hold/holder.stop"; wait "$holder_pid" 2>/dev/null; }
    wineserver -k 2>/dev/null
}
trap finish EXIT

source "$repo/tests/wine/wine-checks.sh"
yes_no() { "$@" && echo yes || echo no; }
winpath() { local p="$1"; echo "Z:${p//\//\\}"; }
# Runs a program under Wine from a folder; prints its exit code.
run_in() { (cd "$1" && wine "$2" >/dev/null 2>&1; echo $?); }
# Makes a folder holding the installer and the named INF files, each with its own contents so
# that each gets its own place in the store.
installer_in() {
    local dir="$1" inf
    shift
    mkdir -p "$dir"
    cp "$installer" "$dir/Brevick.exe"
    for inf in "$@"; do
        printf '[Version]\r\nSignature="$Windows NT$"\r\nClass=HIDClass\r\nClassGuid={745a17a0-74d3-11d0-b6fe-00a0c90f57da}\r\nProvider=%%P%%\r\n[Strings]\r\nP="%s"\r\n' "$dir $inf" > "$dir/$inf"
    done
}
store="$WINEPREFIX/drive_c/windows/inf"
in_store() { ls "$store" | grep -qix "$1"; }

# --- Installer: INF files -------------------------------------------------------------------
installer_in "$work/none"
installer_in "$work/kbrd-only" FRONTPANELKBRD.INF
installer_in "$work/both" FRONTPANEL.INF FRONTPANELKBRD.INF
check "no INF files: exit 1" 1 "$(run_in "$work/none" Brevick.exe)"
check "only FRONTPANELKBRD.INF: exit 1, nothing copied" "1 no" \
    "$(run_in "$work/kbrd-only" Brevick.exe) $(yes_no in_store frontpanelkbrd.inf)"
check "both INF files: exit 0, both copied" "0 yes yes" \
    "$(run_in "$work/both" Brevick.exe) $(yes_no in_store frontpanel.inf) $(yes_no in_store frontpanelkbrd.inf)"

# A current directory that the installer can read (under 259 bytes) but that is too long for
# "\FRONTPANELKBRD.INF" in 260 bytes: exit 1, nothing copied. Its Windows form "Z:..." is made
# 250 characters long.
long="$work/long"
while [ $(( ${#long} + 2 )) -lt 190 ]; do long="$long/dddddddddddddddddddd"; done
long="$long/$(printf 'e%.0s' $(seq 1 $(( 250 - 2 - ${#long} - 1 ))))"
[ "$(winpath "$long" | wc -L)" = 250 ] || { echo "FAIL: long directory is not 250 characters"; exit 1; }
installer_in "$long" FRONTPANEL.INF FRONTPANELKBRD.INF
before="$(ls "$store" | wc -l)"
check "directory too long for the INF paths: exit 1, nothing copied" "1 $before" \
    "$(run_in "$long" Brevick.exe) $(ls "$store" | wc -l)"

# --- Installer: single instance --------------------------------------------------------------
mkdir -p "$work/hold"
cp "$holder" "$work/hold/holder.exe"
(cd "$work/hold" && exec wine holder.exe >/dev/null 2>&1) &
holder_pid=$!
for _ in $(seq 1 300); do [ -f "$work/hold/holder.ready" ] && break; sleep 0.1; done
[ -f "$work/hold/holder.ready" ] || { echo "FAIL: the holder did not take the mutex"; exit 1; }
check "second instance while the mutex is held: exit 0" 0 "$(run_in "$work/none" Brevick.exe)"
touch "$work/hold/holder.stop"
wait "$holder_pid"
holder_pid=""
check "same folder once the mutex is free: exit 1" 1 "$(run_in "$work/none" Brevick.exe)"

# --- Launcher ---------------------------------------------------------------------------------
# The launcher's folder holds a stand-in installer that records its current directory and
# fails; the launcher is started from another folder.
mkdir -p "$work/tools" "$work/elsewhere"
cp "$launcher" "$work/tools/BrevickLauncher.exe"
cp "$standin" "$work/tools/Brevick.exe"
check "launcher from another folder, installer exits 1: exit 0" 0 \
    "$(run_in "$work/elsewhere" "$(winpath "$work/tools")\\BrevickLauncher.exe")"
check "installer started beside the launcher, in its folder" \
    "cwd=$(winpath "$work/tools") cmdline=Brevick.exe" \
    "$(tr -d '\r' < "$work/tools/standin-record.txt" 2>/dev/null | paste -sd ' ')"

# No installer beside the launcher: exit 1, even with a Brevick.exe in the caller's folder,
# which must never run.
mkdir -p "$work/alone" "$work/caller"
cp "$launcher" "$work/alone/BrevickLauncher.exe"
cp "$standin" "$work/caller/Brevick.exe"
check "no installer beside the launcher: exit 1, the caller's Brevick.exe not run" "1 no" \
    "$(run_in "$work/caller" "$(winpath "$work/alone")\\BrevickLauncher.exe") $(yes_no test -f "$work/caller/standin-record.txt")"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
