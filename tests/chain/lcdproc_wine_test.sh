#!/usr/bin/env bash
# Lumara.exe's LCDproc server under Wine's service control manager, with the panel stood in at
# the HID boundary: the port comes from the LcdServer registry values; Debian's native `lcdproc`
# client connects over loopback and its CPU screen reaches the panel, and the clock comes back
# once the client has gone. Enabled=0 leaves the port closed (a wrong Addresses value beside it
# is traced and ignored); a port that another program holds gives the warning event and the
# service runs on.
#   lcdproc_wine_test.sh <work dir> <Lumara.exe> <hid.dll> <setupapi.dll> <hid_recorder.exe>
#       <service_control.exe> <panel_replay.exe>
set -uo pipefail
work="$1" lumara="$2" hid="$3" setupapi="$4" recorder="$5" control="$6" replay="$7"
repo="$(cd "$(dirname "$0")/../.." && pwd)"
source "$repo/tests/wine/wine-checks.sh"
source "$repo/tests/wine/chain_support.sh"

command -v lcdproc >/dev/null || { echo "FAIL: no lcdproc client (scripts/setup.sh installs it)"; exit 1; }

# The services' traces (debug output and event log calls) go to the error output of the command
# that starts the service manager.
CHAIN_SERVICES_LOG="$work/services.log"
chain_prefix "$work" || exit 1
dir="$WINEPREFIX/drive_c/Program Files/Lumara Lcd"
mkdir -p "$dir"
cp "$lumara" "$(dirname "$lumara")/Lumara.DLL" "$dir/"
chain_panel_files "$dir"
exe='C:\Program Files\Lumara Lcd\Lumara.exe'
key='HKLM\SYSTEM\CurrentControlSet\Services\LUMARA\Parameters\LcdServer'

# A port nobody listens on now (on either loopback address).
port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
echo "port $port"
listening() {  # is anything accepting on 127.0.0.1:$port?
    python3 -c 'import socket, sys
try:
    socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=2).close()
    print("yes")
except OSError:
    print("no")' "$port"
}
# Warning events that 127.0.0.1 could not listen (Wine traces their insertion text; a machine
# without IPv6 warns about ::1 as well).
warnings() {
    grep -a 'warn:eventlog:ReportEventW' "$CHAIN_SERVICES_LOG" | grep -acF "127.0.0.1 port $port: " || true
}

timeout 60 wine "$exe" -install -silent
wine reg add 'HKLM\SYSTEM\CurrentControlSet\Services\LUMARA' /reg:64 /v Start /t REG_DWORD \
    /d 3 /f >/dev/null 2>&1
wine reg add "$key" /reg:64 /v Port /t REG_DWORD /d "$port" /f >/dev/null 2>&1
chain_start "$exe"
check "service RUNNING" RUNNING "$(service_state)"
p="$(wait_picture '^[0-9]')"
check "the clock screen first" yes "$(grep -qE '^[0-9]{1,2}:[0-9]{2}' <<<"$p" && echo yes || echo "no: $p")"
check "the server listens on the port from the registry" yes "$(listening)"
check "and gave no warning" 0 "$(warnings)"

# The native client over loopback, in the foreground, for a few seconds.
lcdproc -s 127.0.0.1 -p "$port" -f C >"$work/lcdproc.log" 2>&1 &
client=$!
trap 'kill "$client" 2>/dev/null; wineserver -k 2>/dev/null' EXIT
p="$(wait_picture '^CPU')"
echo "with the client: $p"
check "the client's CPU screen on the panel" yes "$(grep -q '^CPU' <<<"$p" && echo yes || echo "no: $p")"
kill "$client" 2>/dev/null
wait "$client" 2>/dev/null
p="$(wait_picture '^[0-9]')"
check "the clock back after the client quit" yes \
    "$(grep -qE '^[0-9]{1,2}:[0-9]{2}' <<<"$p" && echo yes || echo "no: $p")"

# Turned off: no listener; the wrong Addresses value is traced and ignored.
timeout 60 wine "$exe" -stop -silent
wine reg add "$key" /reg:64 /v Enabled /t REG_DWORD /d 0 /f >/dev/null 2>&1
wine reg add "$key" /reg:64 /v Addresses /t REG_SZ /d 127.0.0.1 /f >/dev/null 2>&1
chain_start "$exe"
check "service RUNNING with the server off" RUNNING "$(service_state)"
check "Enabled=0: nothing listens" no "$(listening)"
check "the wrong Addresses value traced" yes \
    "$(grep -aq 'LcdServer: Addresses is not a REG_MULTI_SZ (type 1); the default applies' "$CHAIN_SERVICES_LOG" && echo yes || echo no)"

# The port held by another program on both loopback addresses: one warning, the service runs on.
timeout 60 wine "$exe" -stop -silent
wine reg delete "$key" /reg:64 /v Enabled /f >/dev/null 2>&1
wine reg delete "$key" /reg:64 /v Addresses /f >/dev/null 2>&1
python3 -c 'import socket, sys, time
held = []
for family, address in ((socket.AF_INET, "127.0.0.1"), (socket.AF_INET6, "::1")):
    try:
        s = socket.socket(family)
        s.bind((address, int(sys.argv[1])))
        s.listen()
        held.append(s)
    except OSError:
        pass
open(sys.argv[2], "w").close()
time.sleep(120)' "$port" "$work/held" &
holder=$!
trap 'kill "$holder" 2>/dev/null; wineserver -k 2>/dev/null' EXIT
for _ in $(seq 1 50); do [ -f "$work/held" ] && break; sleep 0.1; done
before="$(warnings)"
chain_start "$exe"
check "service RUNNING although its port is taken" RUNNING "$(service_state)"
check "one warning event" 1 "$(($(warnings) - before))"
check "the trace names the address and port" yes \
    "$(grep -a 'LcdServer: ' "$CHAIN_SERVICES_LOG" | grep -aq "127.0.0.1 port $port: address in use" && echo yes || echo no)"
(cd "$CHAIN_WORK/rec" && wine service_control.exe LUMARA 201)
check "and still takes controls" 0 $?
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null

timeout 60 wine "$exe" -stop -silent
check "service STOPPED" STOPPED "$(service_state)"
timeout 60 wine "$exe" -uninstall -silent
check "service removed" "" "$(service_state)"

[ "$failures" -eq 0 ]
