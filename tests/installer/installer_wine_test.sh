#!/usr/bin/env bash
# The installer and its launcher under Wine, in a private prefix:
#   installer_wine_test.sh Brevick.exe BrevickLauncher.exe holder.exe standin.exe workdir
# Wine reports success for driver updates even when no device matches, so the panel's absence
# is covered by the portable tests; here: INF files, the single-instance mutex, and where and
# how the launcher starts the installer.
set -uo pipefail

installer="$1" launcher="$2" holder="$3" standin="$4" work="$5"
repo="$(cd "$(dirname "$0")/../.." && pwd)"

rm -rf "$work"
mkdir -p "$work"
bash "$repo/scripts/wine-prefix.sh" "$work/prefix" || { echo "FAIL: no prefix"; exit 1; }
source "$repo/scripts/wine-env.sh"
export WINEPREFIX="$work/prefix"
holder_pid=""
finish() {
    [ -n "$holder_pid" ] && { touch "$work/hold/holder.stop"; wait "$holder_pid" 2>/dev/null; }
    wineserver -k 2>/dev/null
}
trap finish EXIT

failures=0
check() {  # check <description> <expected> <actual>
    if [ "$2" == "$3" ]; then
        echo "ok: $1"
    else
        echo "FAIL: $1: expected '$2', got '$3'"
        failures=$((failures + 1))
    fi
}
winpath() { local p="$1"; echo "Z:${p//\//\\}"; }
# Runs a program under Wine from a folder; prints its exit code.
run_in() { (cd "$1" && wine "$2" >/dev/null 2>&1; echo $?); }
# Two INF files Wine's SetupAPI accepts; different contents so each gets its own place in the store.
write_inf() {
    printf '[Version]\r\nSignature="$Windows NT$"\r\nClass=HIDClass\r\nClassGuid={745a17a0-74d3-11d0-b6fe-00a0c90f57da}\r\nProvider=%%P%%\r\n[Strings]\r\nP="%s"\r\n' "$2" > "$1"
}
store="$WINEPREFIX/drive_c/windows/inf"

# --- Installer: INF files -------------------------------------------------------------------
mkdir -p "$work/none" "$work/kbrd-only" "$work/panel-only" "$work/both"
for d in none kbrd-only panel-only both; do cp "$installer" "$work/$d/Brevick.exe"; done
write_inf "$work/panel-only/FRONTPANEL.INF" "panel"
write_inf "$work/kbrd-only/FRONTPANELKBRD.INF" "keyboard"
write_inf "$work/both/FRONTPANEL.INF" "panel"
write_inf "$work/both/FRONTPANELKBRD.INF" "keyboard"

check "no INF files: exit 1" 1 "$(run_in "$work/none" Brevick.exe)"
check "only FRONTPANELKBRD.INF: exit 1" 1 "$(run_in "$work/kbrd-only" Brevick.exe)"
check "nothing copied without FRONTPANEL.INF" no \
    "$(ls "$store" | grep -qi '^frontpanel' && echo yes || echo no)"
check "only FRONTPANEL.INF: exit 1" 1 "$(run_in "$work/panel-only" Brevick.exe)"
check "FRONTPANEL.INF copied before the failure" yes \
    "$(ls "$store" | grep -qix 'frontpanel.inf' && echo yes || echo no)"
check "both INF files: exit 0" 0 "$(run_in "$work/both" Brevick.exe)"
check "FRONTPANELKBRD.INF copied" yes \
    "$(ls "$store" | grep -qix 'frontpanelkbrd.inf' && echo yes || echo no)"

# A current directory that the installer can read (under 259 bytes) but that is too long for
# "\FRONTPANELKBRD.INF" in 260 bytes: exit 1, nothing copied (the INF files there would
# otherwise install). Its Windows form "Z:..." is made 250 characters long.
long="$work/long"
while [ $(( ${#long} + 2 )) -lt 190 ]; do long="$long/dddddddddddddddddddd"; done
pad=$(( 250 - 2 - ${#long} - 1 ))
long="$long/$(printf 'e%.0s' $(seq 1 "$pad"))"
check "long directory is 250 characters as Wine sees it" 250 "$(winpath "$long" | wc -L)"
mkdir -p "$long"
cp "$installer" "$long/Brevick.exe"
write_inf "$long/FRONTPANEL.INF" "long panel"
write_inf "$long/FRONTPANELKBRD.INF" "long keyboard"
before="$(ls "$store" | wc -l)"
check "directory too long for the INF paths: exit 1" 1 "$(run_in "$long" Brevick.exe)"
check "nothing copied from the too-long directory" "$before" "$(ls "$store" | wc -l)"

# --- Installer: single instance --------------------------------------------------------------
mkdir -p "$work/hold"
cp "$holder" "$work/hold/holder.exe"
(cd "$work/hold" && exec wine holder.exe >/dev/null 2>&1) &
holder_pid=$!
for _ in $(seq 1 300); do [ -f "$work/hold/holder.ready" ] && break; sleep 0.1; done
check "holder owns the mutex" yes "$([ -f "$work/hold/holder.ready" ] && echo yes || echo no)"
start=$(date +%s%N)
check "second instance while the mutex is held: exit 0" 0 "$(run_in "$work/none" Brevick.exe)"
elapsed_ms=$(( ($(date +%s%N) - start) / 1000000 ))
echo "   (second instance ended after ${elapsed_ms} ms)"
touch "$work/hold/holder.stop"
wait "$holder_pid"
check "holder ended cleanly" 0 "$?"
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
record="$work/tools/standin-record.txt"
check "installer beside the launcher ran" yes "$([ -f "$record" ] && echo yes || echo no)"
check "installer's current directory is the launcher's folder" "cwd=$(winpath "$work/tools")" \
    "$(grep '^cwd=' "$record" 2>/dev/null | tr -d '\r')"
check "installer's command line" "cmdline=Brevick.exe" \
    "$(grep '^cmdline=' "$record" 2>/dev/null | tr -d '\r')"

# Launcher with the real installer and its INF files beside it, started from elsewhere: the
# installer finds them there.
mkdir -p "$work/real"
cp "$launcher" "$work/real/BrevickLauncher.exe"
cp "$installer" "$work/real/Brevick.exe"
write_inf "$work/real/FRONTPANEL.INF" "real panel"
write_inf "$work/real/FRONTPANELKBRD.INF" "real keyboard"
rm -f "$store"/FRONTPANEL*  # this prefix's own store: forget the earlier copies
check "launcher with the real installer: exit 0" 0 \
    "$(run_in "$work/elsewhere" "$(winpath "$work/real")\\BrevickLauncher.exe")"
check "the installer found the INF files beside it" yes \
    "$(grep -qs 'real panel' "$store/FRONTPANEL.INF" && grep -qs 'real keyboard' \
        "$store/FRONTPANELKBRD.INF" && echo yes || echo no)"

# No installer beside the launcher: exit 1, even with a Brevick.exe in the caller's folder,
# which must never run.
mkdir -p "$work/alone" "$work/caller"
cp "$launcher" "$work/alone/BrevickLauncher.exe"
cp "$standin" "$work/caller/Brevick.exe"
check "no installer beside the launcher: exit 1" 1 \
    "$(run_in "$work/caller" "$(winpath "$work/alone")\\BrevickLauncher.exe")"
check "Brevick.exe in the caller's folder not run" no \
    "$([ -f "$work/caller/standin-record.txt" ] && echo yes || echo no)"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
