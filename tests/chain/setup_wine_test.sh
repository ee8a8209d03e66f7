#!/usr/bin/env bash
# The setup program under Wine, silent, as a user would run it: a first install with no panel
# (the service stays installed, not running, and the log says why), an upgrade in place with the
# panel stood in and the drivers folder beside the setup (a changed DisplayProps.xml is kept,
# nothing is registered twice), a media session through the sink it registered, controls, then
# `uninstall.exe /S`, and a registry and file comparison with the prefix before the install.
#   setup_wine_test.sh <work dir> <setup.exe> <hid.dll> <setupapi.dll> <hid_recorder.exe>
#       <service_control.exe> <panel_replay.exe> <ostrel_host.exe>
set -uo pipefail
work="$1" setup="$2" hid="$3" setupapi="$4" recorder="$5" control="$6" replay="$7" host64="$8"
repo="$(cd "$(dirname "$0")/../.." && pwd)"
source "$repo/scripts/wine-checks.sh"
source "$repo/tests/chain/chain_support.sh"
[ -f "$setup" ] || { echo "FAIL: $setup is not built"; exit 1; }

chain_prefix "$work" || exit 1
C="$WINEPREFIX/drive_c"
dir="$C/Program Files/Lumara"
exe='C:\Program Files\Lumara\Lumara.exe'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumara'
sources_key='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application'
clsid='{6B1E5A20-3C7D-4F81-9A52-7E0D4C2B9F13}'
mkdir -p "$C/setup"
cp "$setup" "$C/setup/"
setup_exe="C:\\setup\\$(basename "$setup")"
# The stand-in panel goes into the system folder, used only by Lumara.exe and only once the
# per-program override is set. (Each file is replaced, never written through: the prefix's
# files are hard links into the prepared one.)
for f in "$hid" "$setupapi"; do
    name="$(basename "$f")"
    rm -f "$C/windows/system32/$name"
    cp "$f" "$C/windows/system32/$name"
done

# What the prefix holds before: every registry key and value (HKLM's export holds the 32-bit
# view's WOW6432Node keys, HKCR is made of HKLM's and HKCU's classes), every file outside the
# temporary folders (an uninstaller runs from a copy there, which Windows removes at the next
# start).
snapshot() {  # <name>
    local r
    for r in HKLM HKCU; do
        wine reg export "$r" "C:\\$1-$r.reg" /reg:64 /y >/dev/null 2>&1
    done
    (cd "$C" && find . -path ./users -prune -o -path './*.reg' -prune -o -path ./windows/temp -prune \
        -o -path ./setup -prune -o -print | sort) >"$work/$1-files.txt"
}
# Windows always lists the Application log's sources; the service adds itself to that list.
wine reg add "$sources_key" /reg:64 /v Sources /t REG_MULTI_SZ /d 'Application' /f >/dev/null 2>&1
snapshot before

timed() {  # <label> <command...>: runs it, prints how long it took
    local label="$1" started
    shift
    started=$(date +%s%3N)
    "$@"
    local rc=$?
    echo "$label took $(($(date +%s%3N) - started)) ms"
    return $rc
}
reg_value() {  # <key> <value or (Default)> [view]
    local which=(/v "$2")
    [ "$2" = '(Default)' ] && which=(/ve)
    wine reg query "$1" "${which[@]}" "${3:-/reg:64}" 2>/dev/null | tr -d '\r' | awk -v v="$2" '$1 == v {$1 = ""; $2 = ""; sub(/^ +/, ""); print}'
}

# ---- first install: no panel attached
timed "silent install" wine "$setup_exe" /S
check "setup exit code" 0 $?
check "installed files" "Brevick.exe BrevickLauncher.exe DisplayProps.xml Lumara.DLL Lumara.exe README.txt setup.log uninstall.exe x64/Ostrel.dll x86/Ostrel.dll" \
    "$(cd "$dir" && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ' | sed 's/ $//')"
check "default DisplayProps.xml" "" "$(cmp "$dir/DisplayProps.xml" "$repo/installer/DisplayProps.xml" 2>&1)"
check "program list entry" \
    "Lumara front panel|1.0.0|Tarsel|\"C:\\Program Files\\Lumara\\uninstall.exe\"|C:\\Program Files\\Lumara|0x1|0x1" \
    "$(for v in DisplayName DisplayVersion Publisher UninstallString InstallLocation NoModify NoRepair; do reg_value "$uninstall_key" $v; done | paste -sd '|')"
check "estimated size in KiB" yes "$(size=$(reg_value "$uninstall_key" EstimatedSize); [ $((size)) -gt 1000 ] && echo yes || echo "no: $size")"
check "x64 sink registered in the 64-bit view" 'C:\Program Files\Lumara\x64\Ostrel.dll' \
    "$(reg_value "HKCR\\CLSID\\$clsid\\InprocServer32" '(Default)')"
check "service installed, not started without a panel" STOPPED "$(service_state)"
log="$(tr -d '\r' <"$dir/setup.log")"
check "log: the start failure" yes "$(grep -q '^The service did not start' <<<"$log" && echo yes || echo no)"
check "log: no drivers folder" yes "$(grep -q '^No drivers folder' <<<"$log" && echo yes || echo no)"
wine32_works || check "log: the x86 sink could not be registered here" yes \
    "$(grep -q 'x86 status sink is not registered' <<<"$log" && echo yes || echo no)"

# ---- upgrade in place: the user changed DisplayProps.xml; the panel is there; drivers beside
printf '<!-- changed by the user -->\r\n' >>"$dir/DisplayProps.xml"
cp "$dir/DisplayProps.xml" "$work/changed.xml"
mkdir -p "$C/setup/drivers"
for inf in FRONTPANEL.INF FRONTPANELKBRD.INF; do
    printf '[Version]\r\nSignature="$Windows NT$"\r\nClass=HIDClass\r\nClassGuid={745a17a0-74d3-11d0-b6fe-00a0c90f57da}\r\nProvider=%%P%%\r\n[Strings]\r\nP="%s"\r\n' "$inf" >"$C/setup/drivers/$inf"
done
override='HKCU\Software\Wine\AppDefaults\Lumara.exe\DllOverrides'
wine reg add "$override" /reg:64 /v hid /d native /f >/dev/null 2>&1
wine reg add "$override" /reg:64 /v setupapi /d native /f >/dev/null 2>&1
timed "silent upgrade" wine "$setup_exe" /S
check "upgrade exit code" 0 $?
check "the changed DisplayProps.xml kept" "" "$(cmp "$dir/DisplayProps.xml" "$work/changed.xml" 2>&1)"
log="$(tr -d '\r' <"$dir/setup.log")"
check "log: the kept file, the stop and the drivers" "yes yes yes" \
    "$(for p in '^Kept the changed DisplayProps.xml' '^Upgrading: stopping' '^Installed the panel drivers'; do grep -q "$p" <<<"$log" && echo -n yes || echo -n no; echo -n ' '; done | sed 's/ $//')"
check "INF files beside the launcher and in the driver store" "yes yes" \
    "$([ -f "$dir/FRONTPANEL.INF" ] && [ -f "$dir/FRONTPANELKBRD.INF" ] && echo yes || echo no) $(ls "$C/windows/inf" | grep -qix frontpanel.inf && echo yes || echo no)"
check "service RUNNING after the upgrade" RUNNING "$(service_state)"
check "event source listed once" 1 \
    "$(reg_value "$sources_key" Sources | grep -o 'Tarsel Front Panel Manager Service' | wc -l)"
check "one program list entry" 1 \
    "$(wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /reg:64 /s 2>/dev/null | tr -d '\r' | grep -c 'DisplayName    REG_SZ    Lumara front panel')"
chain_expect_startup
chain_session_registered "$host64" x64
(cd "$CHAIN_WORK/rec" && wine service_control.exe LUMARA 204)
check "control 204 taken" 0 $?

# ---- uninstall: it runs from a copy in the temporary folder; wait for it to finish
uninstall_started=$(date +%s%3N)
wine 'C:\Program Files\Lumara\uninstall.exe' /S
for _ in $(seq 1 150); do
    [ -f "$dir/Lumara.exe" ] || wine reg query "$uninstall_key" /reg:64 >/dev/null 2>&1 || break
    sleep 0.2
done
echo "silent uninstall took $(($(date +%s%3N) - uninstall_started)) ms"
check "service stopped with the stopping screen, then removed" "Service     |stopping... |" \
    "$(picture | cut -d'|' -f1,2)|$(service_state)"
check "only the changed DisplayProps.xml is left" "DisplayProps.xml" "$(ls "$dir" 2>&1 | tr '\n' ' ' | sed 's/ $//')"
rm -rf "$dir" "$C/setup"
wine reg delete 'HKCU\Software\Wine\AppDefaults\Lumara.exe' /reg:64 /f >/dev/null 2>&1

# ---- nothing else left behind (the panel's drivers stay in the driver store, as on Windows)
snapshot after
# A registry export as one line per key and per value ("[key]|value"), without what Wine itself
# adds as programs run (console settings, audio and video devices, its own parameters), the
# uninstaller's removal of its temporary copy at the next start, and the media status sink
# category's key, which stays for the other sinks of the category (its name value goes).
flat_reg() {
    iconv -f UTF-16 -t UTF-8 "$1" | tr -d '\r' | awk '
        /^\[/ { key = $0; print key; next }
        /^$/ { next }
        { line = $0
          while (line ~ /\\$/ && (getline more) > 0) line = substr(line, 1, length(line) - 1) more
          print key "|" line }' |
        grep -vE '^\[HKEY_CURRENT_USER\\(Console|Volatile Environment|Software\\Wine\\(Drivers\\winealsa\.drv|Temporary System Parameters))|\\MMDevices|\\Control\\(Video|ServiceCurrent)\\?|PendingFileRenameOperations|Component Categories\\\{FCB0C2A3-9747-4c95-9d02-820AFEDEF13F\}\]$'
}
for f in "$C"/before-*.reg; do
    name="$(basename "$f" .reg | sed 's/before-//')"
    check "registry $name as before" "" "$(diff <(flat_reg "$f") <(flat_reg "${f/before-/after-}") | head -20)"
done
check "files as before" "" \
    "$(diff <(grep -viE '^\./windows/inf/(frontpanel|oem)' "$work/before-files.txt") <(grep -viE '^\./windows/inf/(frontpanel|oem)' "$work/after-files.txt") | head -20)"

[ "$failures" -eq 0 ]
