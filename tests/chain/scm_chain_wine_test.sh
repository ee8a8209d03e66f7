#!/usr/bin/env bash
# Lumara.exe as a service under Wine's service control manager, with the panel stood in at the
# HID boundary (stand-in hid.dll and setupapi.dll beside the program, selected for Lumara.exe
# only; their devices are named pipes served by hid_recorder): install, start to RUNNING, the
# start-up reports and clock screen, a media session through Ostrel.dll loaded by the COM host
# program (x64, and x86 where Wine runs 32-bit programs), controls 201 and 204, stop with the
# stopping screen, uninstall.
#   scm_chain_wine_test.sh <work dir> <Lumara.exe> <hid.dll> <setupapi.dll> <hid_recorder.exe>
#       <service_control.exe> <panel_replay.exe> <Ostrel.dll> <ostrel_host.exe>
#       [<x86 Ostrel.dll> <x86 ostrel_host.exe>]
set -uo pipefail
work="$1" lumara="$2" hid="$3" setupapi="$4" recorder="$5" control="$6" replay="$7"
dll64="$8" host64="$9" dll32="${10:-}" host32="${11:-}"
repo="$(cd "$(dirname "$0")/../.." && pwd)"
source "$repo/tests/wine/wine-checks.sh"
source "$repo/tests/wine/chain_support.sh"

chain_prefix "$work" || exit 1
dir="$WINEPREFIX/drive_c/Program Files/Lumara Chain"
mkdir -p "$dir"
cp "$lumara" "$(dirname "$lumara")/Lumara.DLL" "$dir/"
chain_panel_files "$dir"
exe='C:\Program Files\Lumara Chain\Lumara.exe'

# The stand-ins are the only difference from a user's installation: exactly the functions the
# program imports, no more.
check "stand-in hid.dll exports what Lumara.exe imports" "$(imports_of "$lumara" HID.DLL)" \
    "$(exports_of "$hid")"
check "stand-in setupapi.dll exports what Lumara.exe imports" \
    "$(imports_of "$lumara" SETUPAPI.dll)" "$(exports_of "$setupapi")"

# DisplayProps.xml is looked for only by its full path, which must fit in 256 bytes: from a
# folder of 240 characters ("C:\ddd...") the program fits but the file's path does not, so a
# debug run stops at once without touching the panel, though the file is right beside it.
long="$WINEPREFIX/drive_c/$(printf 'd%.0s' $(seq 1 237))"
mkdir -p "$long"
cp "$lumara" "$(dirname "$lumara")/Lumara.DLL" "$dir/DisplayProps.xml" "$dir/hid.dll" \
    "$dir/setupapi.dll" "$long/"
timeout 30 wine "C:\\$(basename "$long")\\Lumara.exe" -DEBUG >/dev/null 2>&1
check "a DisplayProps.xml path over 256 bytes is not read: the debug run ends by itself" 0 $?
check "and the panel got nothing" no "$([ -s "$work/rec/panel.log" ] && echo yes || echo no)"

timeout 60 wine "$exe" -install -silent
# A demand-start copy: a restarting server never starts it behind the test's back.
wine reg add 'HKLM\SYSTEM\CurrentControlSet\Services\LUMARA' /reg:64 /v Start /t REG_DWORD \
    /d 3 /f >/dev/null 2>&1
chain_start "$exe"
check "service RUNNING under the SCM" RUNNING "$(service_state)"
chain_expect_startup
check "the other product's interface got nothing" no "$([ -s "$work/rec/other.log" ] && echo yes || echo no)"

chain_session "$dll64" "$host64" x64
if [ -n "$dll32" ]; then
    if wine32_works; then
        chain_session "$dll32" "$host32" x86
    else
        echo "skip: the x86 sink's session (this Wine cannot run 32-bit programs)"
    fi
fi

chain_controls_and_stop "$exe"
timeout 60 wine "$exe" -uninstall -silent
check "service removed" "" "$(service_state)"

[ "$failures" -eq 0 ]
