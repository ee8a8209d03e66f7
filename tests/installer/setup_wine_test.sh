#!/usr/bin/env bash
# The setup program under Wine, silent, as an administrator would run it:
# - a first install with /D= and no panel (the service stays installed, not running, and the log
#   says why; LumaraNowPlaying.exe gets its Run entry);
# - an upgrade without /D= that finds that folder, with the panel stood in and the drivers folder
#   beside the setup (a changed DisplayProps.xml is kept, nothing is registered twice, running
#   LumaraNowPlaying.exe copies are ended first), and a media session through the sink;
# - a /D= naming another folder, refused;
# - a later release whose regsvr32 step fails: the previous version is put back and runs again;
# - the later release with Ostrel.dll held open: replaced at the next start, exit code 3010, and
#   the untouched default DisplayProps.xml replaced by the new default;
# - the older setup over it, refused, then forced;
# - controls, `uninstall.exe /S`, and a registry and file comparison with the prefix before.
# Exit codes above 255 come through Wine as their low byte.
#   setup_wine_test.sh <work dir> <setup.exe> <next release's setup.exe> <hid.dll>
#       <setupapi.dll> <hid_recorder.exe> <service_control.exe> <panel_replay.exe>
#       <ostrel_host.exe> <file_holder.exe> <failing_program.exe> <next release's source folder>
#       <now_playing_copy.exe>
set -uo pipefail
work="$1" setup="$2" next_setup="$3" hid="$4" setupapi="$5" recorder="$6" control="$7"
replay="$8" host64="$9" holder="${10}" failing="${11}" next_src="${12}" np_copy="${13}"
repo="$(cd "$(dirname "$0")/../.." && pwd)"
source "$repo/tests/wine/wine-checks.sh"
source "$repo/tests/wine/chain_support.sh"
for f in "$setup" "$next_setup"; do [ -f "$f" ] || { echo "FAIL: $f is not built"; exit 1; }; done
test_started=$(date +%s%3N)

chain_prefix "$work" || exit 1
C="$WINEPREFIX/drive_c"
# Installed with /D= into a folder of its own; the default folder must stay empty.
dir="$C/Panel/Lumara"
default_dir="$C/Program Files/Lumara"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumara'
sources_key='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application'
clsid='{6B1E5A20-3C7D-4F81-9A52-7E0D4C2B9F13}'
mkdir -p "$C/setup"
cp "$setup" "$next_setup" "$C/setup/"
setup_exe="C:\\setup\\$(basename "$setup")"
next_exe="C:\\setup\\$(basename "$next_setup")"
version="$(basename "$setup" | sed 's/^Lumara-\(.*\)-setup\.exe$/\1/')"
next_version="$(basename "$next_setup" | sed 's/^Lumara-\(.*\)-setup\.exe$/\1/')"
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
values_of() {  # <reg query output> <value>...: their data, joined by "|"
    local out="$1" v
    shift
    for v in "$@"; do
        tr -d '\r' <<<"$out" | awk -v v="$v" '$1 == v {$1 = ""; $2 = ""; sub(/^ +/, ""); print}'
    done | paste -sd '|'
}
reg_value() {  # <key> <value or (Default)> [view]
    local which=(/v "$2")
    [ "$2" = '(Default)' ] && which=(/ve)
    wine reg query "$1" "${which[@]}" "${3:-/reg:64}" 2>/dev/null | tr -d '\r' | awk -v v="$2" '$1 == v {$1 = ""; $2 = ""; sub(/^ +/, ""); print}'
}

# installed_files: every file of the installation folder, by path, on one line.
installed_files() { (cd "$dir" && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ' | sed 's/ $//'); }
# log_has <pattern>...: "yes" per extended regular expression that a line of the last run's
# part of setup.log matches (each run starts with "Lumara <version> setup into" or "... refused").
log_has() {
    local p out=() last
    last="$(tr -d '\r' <"$dir/setup.log" | tac | sed '/^Lumara [0-9.]* setup \(into\|refused\)/q' | tac)"
    for p in "$@"; do
        grep -qE "$p" <<<"$last" && out+=(yes) || out+=("no: $p")
    done
    echo "${out[*]}"
}
yeses() { printf 'yes %.0s' $(seq 1 "$1") | sed 's/ $//'; }
sha() { sha256sum "$1" | cut -d' ' -f1; }
# A stand-in for a running LumaraNowPlaying.exe copy, which ends when --quit sets its event.
copy_start() {
    rm -f "$work/copy.ready" "$work/copy.quit"
    (cd "$CHAIN_WORK/rec" && exec wine now_playing_copy.exe 'C:\copy.ready' 'C:\copy.quit' >/dev/null 2>&1) &
    copy_pid=$!
    for _ in $(seq 1 100); do [ -f "$C/copy.ready" ] && break; sleep 0.1; done
    check "stand-in LumaraNowPlaying.exe copy running" yes "$([ -f "$C/copy.ready" ] && echo yes || echo no)"
}
copy_ended() {  # "yes" when the copy was told to quit (it is ended either way)
    for _ in $(seq 1 50); do [ -f "$C/copy.quit" ] && break; sleep 0.1; done
    if [ -f "$C/copy.quit" ]; then
        wait "$copy_pid" 2>/dev/null
        echo yes
    else
        kill "$copy_pid" 2>/dev/null
        wait "$copy_pid" 2>/dev/null
        echo no
    fi
    rm -f "$C/copy.ready" "$C/copy.quit"
}
setup_run() {  # <label> <setup> <arguments...>: runs it silently; $rc is its exit code
    local label="$1"
    shift
    timed "$label" wine "$@"
    rc=$?
}

# ---- first install with /D=: no panel attached
setup_run "silent install with /D=" "$setup_exe" /S '/D=C:\Panel\Lumara'
check "setup exit code" 0 $rc
check "installed files, in the /D= folder only" "Brevick.exe BrevickLauncher.exe DisplayProps.xml Lumara.DLL Lumara.exe LumaraNowPlaying.exe README.txt setup.log uninstall.exe x64/Ostrel.dll x86/Ostrel.dll|no default folder" \
    "$(installed_files)|$([ -e "$default_dir" ] && echo "default folder exists" || echo "no default folder")"
check "default DisplayProps.xml" "" "$(cmp "$dir/DisplayProps.xml" "$repo/installer/DisplayProps.xml" 2>&1)"
entry="$(wine reg query "$uninstall_key" /reg:64 2>/dev/null | tr -d '\r')"
check "program list entry, with the installed default's hash" \
    "Lumara front panel|$version|Tarsel|\"C:\\Panel\\Lumara\\uninstall.exe\"|C:\\Panel\\Lumara|C:\\Panel\\Lumara\\uninstall.exe,0|0x1|0x1|$(sha "$repo/installer/DisplayProps.xml")" \
    "$(values_of "$entry" DisplayName DisplayVersion Publisher UninstallString InstallLocation DisplayIcon NoModify NoRepair DisplayPropsDefaultSHA256)"
check "estimated size in KiB" yes "$(size=$(values_of "$entry" EstimatedSize); [ $((size)) -gt 1000 ] && echo yes || echo "no: $size")"
check "x64 sink registered in the 64-bit view" 'C:\Panel\Lumara\x64\Ostrel.dll' \
    "$(reg_value "HKCR\\CLSID\\$clsid\\InprocServer32" '(Default)')"
check "service installed for the /D= folder, not started without a panel" 'C:\Panel\Lumara\Lumara.exe|STOPPED' \
    "$(reg_value 'HKLM\SYSTEM\CurrentControlSet\Services\LUMARA' ImagePath)|$(service_state)"
check "log: each step with its exit code, the start failure, no drivers folder" "$(yeses 4)" \
    "$(log_has '^Registered the x64 status sink \(regsvr32 exit code 0\)$' \
        '^Installed the service LUMARA \(Lumara.exe -install exit code 0\)$' \
        '^The service did not start \(is the panel plugged in\?\): it stopped by itself' '^No drivers folder')"
if wine32_works; then
    check "log: the x86 sink registered" yes "$(log_has '^Registered the x86 status sink \(regsvr32 exit code 0\)$')"
else
    check "log: the x86 sink could not be registered here" yes "$(log_has 'x86 status sink is not registered')"
fi
check "LumaraNowPlaying.exe at every logon (machine Run key)" '"C:\Panel\Lumara\LumaraNowPlaying.exe"' \
    "$(reg_value 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' LumaraNowPlaying)"
check "log: LumaraNowPlaying.exe started, or left to the next logon without a desktop" yes \
    "$(log_has '^(Started LumaraNowPlaying.exe for the signed-in user through the desktop shell|No desktop shell: LumaraNowPlaying.exe starts at the next logon)$')"
check "uninstaller's version resource" 0 \
    "$(bash "$repo/tests/installer/versions_test.sh" "$version" "$dir/uninstall.exe" | grep -c '^FAIL')"

# ---- upgrade without /D=: into the installed folder; the user changed DisplayProps.xml (with
# dimming rules, which the upgraded service starts with); the panel is there; drivers beside
# the setup
sed -i 's|</Display>|<Dimming><IdleAfterSeconds>300</IdleAfterSeconds><IdleBrightness>40</IdleBrightness><NightFrom>23:00</NightFrom><NightUntil>7:00</NightUntil><NightBrightness>20</NightBrightness></Dimming></Display>|' \
    "$dir/DisplayProps.xml"
printf '<!-- changed by the user -->\r\n' >>"$dir/DisplayProps.xml"
cp "$dir/DisplayProps.xml" "$work/changed.xml"
mkdir -p "$C/setup/drivers"
for inf in FRONTPANEL.INF FRONTPANELKBRD.INF; do
    printf '[Version]\r\nSignature="$Windows NT$"\r\nClass=HIDClass\r\nClassGuid={745a17a0-74d3-11d0-b6fe-00a0c90f57da}\r\nProvider=%%P%%\r\n[Strings]\r\nP="%s"\r\n' "$inf" >"$C/setup/drivers/$inf"
done
override='HKCU\Software\Wine\AppDefaults\Lumara.exe\DllOverrides'
wine reg add "$override" /reg:64 /v hid /d native /f >/dev/null 2>&1
wine reg add "$override" /reg:64 /v setupapi /d native /f >/dev/null 2>&1
cp "$np_copy" "$CHAIN_WORK/rec/now_playing_copy.exe"
copy_start
setup_run "silent upgrade" "$setup_exe" /S
check "the running LumaraNowPlaying.exe copy ended by the upgrade" yes "$(copy_ended)"
check "upgrade exit code" 0 $rc
check "upgraded in the /D= folder" "no default folder|no staging folders" \
    "$([ -e "$default_dir" ] && echo "default folder exists" || echo "no default folder")|$(ls -d "$dir"/update.* >/dev/null 2>&1 && echo "staging folders left" || echo "no staging folders")"
check "the changed DisplayProps.xml kept" "" "$(cmp "$dir/DisplayProps.xml" "$work/changed.xml" 2>&1)"
check "log: the kept file, the upgrade, LumaraNowPlaying.exe ended, the drivers" "$(yeses 4)" \
    "$(log_has '^Kept the changed DisplayProps.xml' "^Upgrading the installed Lumara $version\$" \
        '^No LumaraNowPlaying.exe copy runs any more \(--quit exit code 0\)$' \
        '^Ran the panel driver installer Brevick.exe \(BrevickLauncher exit code 0\)$')"
check "INF files beside the launcher and in the driver store" "yes yes" \
    "$([ -f "$dir/FRONTPANEL.INF" ] && [ -f "$dir/FRONTPANELKBRD.INF" ] && echo yes || echo no) $(ls "$C/windows/inf" | grep -qix frontpanel.inf && echo yes || echo no)"
check "service RUNNING after the upgrade" RUNNING "$(service_state)"
check "log: started" yes "$(log_has '^Started the service \(Lumara.exe -start exit code 0\)$')"
check "event source listed once" 1 \
    "$(reg_value "$sources_key" Sources | grep -o 'Tarsel Front Panel Manager Service' | wc -l)"
check "one program list entry" 1 \
    "$(wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /reg:64 /s 2>/dev/null | tr -d '\r' | grep -c 'DisplayName    REG_SZ    Lumara front panel')"
chain_expect_startup
chain_session_registered "$host64" x64
rm -rf "$C/setup/drivers"

# ---- another folder with /D=: refused, logged in the installed folder, nothing changed
setup_run "refused /D= of another folder" "$setup_exe" /S '/D=C:\Other'
check "other folder: exit code 1639" $((1639 % 256)) $rc
check "other folder: not created, service still running" "no|RUNNING" \
    "$([ -e "$C/Other" ] && echo yes || echo no)|$(service_state)"
check "log: the refusal" yes "$(log_has '^Lumara [0-9.]+ setup refused: Lumara [0-9.]+ is installed in C:\\Panel\\Lumara, not in C:\\Other')"

# ---- a later release whose regsvr32 fails: the previous version is put back and runs again.
# The stand-in that fails takes the 64-bit regsvr32's place (Wine runs it once told to load that
# program natively).
sys32="$C/windows/system32"
mv "$sys32/regsvr32.exe" "$work/regsvr32.exe"
cp "$failing" "$sys32/regsvr32.exe"
wine reg add 'HKCU\Software\Wine\DllOverrides' /reg:64 /v regsvr32.exe /d native /f >/dev/null 2>&1
stops_before=$(grep -c '^03 02 ' "$CHAIN_WORK/rec/panel.log")
setup_run "upgrade with a failing step" "$next_exe" /S
wine reg delete 'HKCU\Software\Wine\DllOverrides' /reg:64 /v regsvr32.exe /f >/dev/null 2>&1
rm -f "$sys32/regsvr32.exe"
mv "$work/regsvr32.exe" "$sys32/regsvr32.exe"
check "failed step: exit code 1603" $((1603 % 256)) $rc
check "log: stopped through the service manager, the failure, put back, started again" "$(yeses 4)" \
    "$(log_has '^Stopped the service through the service manager \(STOPPED after [0-9]+ ms\)$' \
        '^Failed: registering the x64 status sink \(regsvr32 exit code 5\)\. Putting the previous state back$' \
        '^Started the previous service again$' "^Lumara $version is in place as before\$")"
check "failed step: the previous files, entry and service" \
    "$version|$(sha "$repo/installer/README.txt")|$(sha "$work/changed.xml")|no staging folders|RUNNING" \
    "$(reg_value "$uninstall_key" DisplayVersion)|$(sha "$dir/README.txt")|$(sha "$dir/DisplayProps.xml")|$(ls -d "$dir"/update.* >/dev/null 2>&1 && echo "staging folders left" || echo "no staging folders")|$(service_state)"
check "failed step: the service showed its stopping screen once (stopped, then started again)" 1 \
    "$(($(grep -c '^03 02 ' "$CHAIN_WORK/rec/panel.log") - stops_before))"

# ---- the later release with x64\Ostrel.dll in use: replaced at the next start, exit 3010. The
# user put the installed default DisplayProps.xml back: it is replaced by the new default.
cp "$repo/installer/DisplayProps.xml" "$dir/DisplayProps.xml"
rm -f "$work/held"
(cd "$CHAIN_WORK/rec" && cp "$holder" . && exec wine file_holder.exe 'C:\Panel\Lumara\x64\Ostrel.dll' "$(winepath -w "$work/held")" >/dev/null 2>&1) &
holder_pid=$!
for _ in $(seq 1 100); do [ -f "$work/held" ] && break; sleep 0.1; done
check "Ostrel.dll held open" yes "$([ -f "$work/held" ] && echo yes || echo no)"
setup_run "upgrade with a file in use" "$next_exe" /S
kill "$holder_pid" 2>/dev/null
wait "$holder_pid" 2>/dev/null
check "file in use: exit code 3010" $((3010 % 256)) $rc
check "log: stopped through the service manager, the file in use, restart" "$(yeses 3)" \
    "$(log_has '^Stopped the service through the service manager' \
        '^x64\\Ostrel.dll is in use: its new copy replaces it at the next start of Windows$' \
        '^Done; restart Windows to finish \(exit code 3010\)$')"
check "file in use: its replacement waits for the next start" yes \
    "$(wine reg query 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations /reg:64 2>/dev/null |
        tr -d '\r' | grep -qiF 'C:\Panel\Lumara\update.new\x64\Ostrel.dll\0!\??\C:\Panel\Lumara\x64\Ostrel.dll' && echo yes || echo no)"
entry="$(wine reg query "$uninstall_key" /reg:64 2>/dev/null)"
check "file in use: the new release in place, the untouched default replaced by the new one" \
    "$next_version|$(sha "$next_src/README.txt")|$(sha "$next_src/DisplayProps.xml")|$(sha "$next_src/DisplayProps.xml")|RUNNING" \
    "$(values_of "$entry" DisplayVersion)|$(sha "$dir/README.txt")|$(sha "$dir/DisplayProps.xml")|$(values_of "$entry" DisplayPropsDefaultSHA256)|$(service_state)"

# ---- the older setup over the later release: refused, unless forced (the forced run also
# clears the copy still waiting in update.new)
setup_run "refused downgrade" "$setup_exe" /S
check "downgrade: exit code 1638" $((1638 % 256)) $rc
check "downgrade: refused and logged, nothing changed" "yes|$next_version|RUNNING" \
    "$(log_has "^Lumara $version setup refused: the installed Lumara $next_version is newer")|$(reg_value "$uninstall_key" DisplayVersion)|$(service_state)"

setup_run "forced downgrade" "$setup_exe" /S /FORCE
check "forced downgrade: exit code 0, the older version and its default in place, no staging folders" \
    "0|$version|$(sha "$repo/installer/DisplayProps.xml")|no staging folders|RUNNING" \
    "$rc|$(values_of "$(wine reg query "$uninstall_key" /reg:64 2>/dev/null)" DisplayVersion)|$(sha "$dir/DisplayProps.xml")|$(ls -d "$dir"/update.* >/dev/null 2>&1 && echo "staging folders left" || echo "no staging folders")|$(service_state)"

(cd "$CHAIN_WORK/rec" && wine service_control.exe LUMARA 204)
check "control 204 taken" 0 $?
printf '<!-- changed by the user again -->\r\n' >>"$dir/DisplayProps.xml"
cp "$dir/DisplayProps.xml" "$work/changed.xml"

# ---- uninstall: it runs from a copy in the temporary folder; wait for it to finish
sed 's/^/setup.log: /' "$dir/setup.log" | tr -d '\r'
copy_start
uninstall_started=$(date +%s%3N)
wine 'C:\Panel\Lumara\uninstall.exe' /S
for _ in $(seq 1 150); do
    [ -f "$dir/Lumara.exe" ] || wine reg query "$uninstall_key" /reg:64 >/dev/null 2>&1 || break
    sleep 0.2
done
echo "silent uninstall took $(($(date +%s%3N) - uninstall_started)) ms"
check "the running LumaraNowPlaying.exe copy ended by the uninstaller" yes "$(copy_ended)"
check "service stopped with the stopping screen, then removed" "Service     |stopping... |" \
    "$(picture | cut -d'|' -f1,2)|$(service_state)"
check "only the changed DisplayProps.xml is left" "DisplayProps.xml|" \
    "$(ls "$dir" 2>&1 | tr '\n' ' ' | sed 's/ $//')|$(cmp "$dir/DisplayProps.xml" "$work/changed.xml" 2>&1)"
rm -rf "$C/Panel" "$C/setup"
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

echo "setup test took $(($(date +%s%3N) - test_started)) ms"
[ "$failures" -eq 0 ]
