#!/usr/bin/env bash
# Lumara.exe under Wine, against the real service control manager and registry of a private
# prefix: usage text, installation with its registry values and event source, a second
# installation's failure text, stop of a stopped service, start without a panel (the service
# logs and stops), the debug run, a run without options, and removal. The start trigger on the
# panel's arrival is read back through the SCM where Wine keeps it; Wine 8 refuses the level,
# and then the installation's trace must say so.
#   lumara_wine_test.sh <Lumara.exe> <message_box_probe.exe> <work dir> <trigger_probe.exe>
set -uo pipefail
LUMARA_EXE="$1"
PROBE_EXE="$2"
WORK="$3"
TRIGGER_PROBE_EXE="$4"
REPO="$(cd "$(dirname "$0")/../.." && pwd)"

source "$REPO/tests/wine/wine-checks.sh"
count() { grep -cF -- "$2" <<<"$1" || true; }

rm -rf "$WORK"
mkdir -p "$WORK"
bash "$REPO/tests/wine/wine-prefix.sh" "$WORK/prefix" || exit 1
export WINEPREFIX="$WORK/prefix"
export WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY

# The service lives as long as this server: keep it up while the service is used, end it at exit.
wineserver -p
trap 'wineserver -k 2>/dev/null' EXIT

DIR_WIN='C:\Program Files\Lumara Test'
DIR="$WINEPREFIX/drive_c/Program Files/Lumara Test"
mkdir -p "$DIR"
cp "$LUMARA_EXE" "$DIR/Lumara.exe"
cp "$(dirname "$LUMARA_EXE")/Lumara.DLL" "$DIR/Lumara.DLL"
cp "$PROBE_EXE" "$WORK/probe.exe"
cp "$TRIGGER_PROBE_EXE" "$WORK/trigger_probe.exe"
EXE="$DIR_WIN\\Lumara.exe"
NAME='Tarsel Front Panel Manager Service'
SVC_KEY='HKLM\SYSTEM\CurrentControlSet\Services\LUMARA'
APP_KEY='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application'

# The first command starts the service manager; the service processes it starts write their
# event log calls (Wine keeps only a trace of them) to this command's error output.
WINEDEBUG=-all,+eventlog wine reg add "$APP_KEY" /reg:64 /v Sources /t REG_MULTI_SZ \
    /d 'Application\0tarsel front panel manager service' /f >/dev/null 2>"$WORK/services.log"
service_log() { grep -a "eventlog:ReportEvent" "$WORK/services.log" || true; }

# Runs Lumara in the background and answers its message box; prints the box's text and buttons.
answer_box() {
    wine "$EXE" "$@" >/dev/null 2>&1 &
    local pid=$!
    wine "$WORK/probe.exe" "$NAME" 20000 | tr -d '\r'
    local waited=0
    while kill -0 "$pid" 2>/dev/null && [ $waited -lt 100 ]; do sleep 0.2; waited=$((waited + 1)); done
    kill -0 "$pid" 2>/dev/null && { echo "still running"; kill "$pid"; }
    wait "$pid" 2>/dev/null
}

# ---- usage text, also with -silent: one OK button, and the program ends after it
box="$(answer_box -help -silent)"
check_that "help shows the usage text" contains "$box" "text=A service for displaying media center information on a front panel display."
check_that "help text second line" contains "$box" "Usage: testsrv [-install | -uninstall | -help]"
check_that "help box has only an OK button and ends" bash -c '[[ "$1" == *"buttons=[OK]"* && "$1" != *"still running"* ]]' _ "$box"

# ---- installation: the service's values, the event source and the Sources list
WINEDEBUG=-all,+debugstr timeout 60 wine "$EXE" -install -silent 2>"$WORK/install.log"
install_trace="$(grep -a 'OutputDebugString' "$WORK/install.log" | tr -d '\r')"
triggers="$(wine "$WORK/trigger_probe.exe" LUMARA 2>/dev/null | tr -d '\r')"
if contains "$install_trace" "Installed with a start trigger on the panel's arrival"; then
    check_that "trigger read back: HID interface arrival starts the service" contains "$triggers" \
        "trigger type 1 action 1 class {4D1E55B2-F16F-11CF-88CB-001111000030}"
    check_that "trigger data: the panel's hardware id, UTF-16 with its NUL" contains "$triggers" \
        'data type 2 size 44 HID\VID_1F3C&PID_5A41<00>'
else
    check_that "install traced the refused trigger" grep -qE \
        'Installed without a start trigger \(error [0-9]+\): the service starts at boot only' <<<"$install_trace"
    check_that "and the SCM holds no trigger" bash -c '[[ "$1" == "query error "* || "$1" == "triggers 0" ]]' _ "$triggers"
fi
svc="$(wine reg query "$SVC_KEY" /reg:64 2>/dev/null | tr -d '\r')"
for value in "ImagePath    REG_SZ    \"$DIR_WIN\\Lumara.exe\"" "Start    REG_DWORD    0x2" \
    "Type    REG_DWORD    0x10" "ErrorControl    REG_DWORD    0x0" "DisplayName    REG_SZ    $NAME" \
    "Description    REG_SZ    Service controlling front panel display for ZELK" \
    "ObjectName    REG_SZ    LocalSystem"; do
    check_that "service value $value" contains "$svc" "$value"
done
src="$(wine reg query "$APP_KEY\\$NAME" /reg:64 2>/dev/null | tr -d '\r')"
check_that "event message file beside the program" contains "$src" "EventMessageFile    REG_SZ    $DIR_WIN\\Lumara.DLL"
check_that "types supported 7" contains "$src" "TypesSupported    REG_DWORD    0x7"

# A second installation fails on the existing service and says so.
box="$(answer_box -install)"
check_that "second install shows message 3 with error 1073" contains "$box" "text=LumaraService::Install, Failed call to CreateService, Error:1073, "
sources="$(wine reg query "$APP_KEY" /reg:64 /v Sources 2>/dev/null | tr -d '\r')"
check_that "Sources lists the name once, after the entry of another case" \
    grep -qE 'Application\\0tarsel front panel manager service\\0Tarsel Front Panel Manager Service$' <<<"$sources"

# From here on the start type is not under test: a demand-start copy is never started by a
# restarting server.
wine reg add "$SVC_KEY" /reg:64 /v Start /t REG_DWORD /d 3 /f >/dev/null 2>&1

# ---- stop of a stopped service: succeeds at once, no message box (it would block)
start_ms=$(date +%s%3N)
timeout 30 wine "$EXE" -stop
check_that "stop of a stopped service ends at once without a message" test $? -eq 0 -a $(($(date +%s%3N) - start_ms)) -lt 4000

# ---- start without DisplayProps.xml: the service logs start, error and stop, then stops
before_err=$(count "$(service_log)" "err:eventlog")
before_info=$(count "$(service_log)" "trace:eventlog")
box="$(answer_box -start)"
check_that "start shows message 10 after the wait" contains "$box" "text=Failed to start the service, Error:1460, "
state="$(wine sc query LUMARA 2>/dev/null | tr -d '\r')"
check_that "service ended STOPPED with exit code 0" bash -c '[[ "$1" == *"STATE              : 1  STOPPED"* && "$1" == *"WIN32_EXIT_CODE    : 0  (0x0)"* ]]' _ "$state"
log="$(service_log)"
check_that "service logged one error event, its start and stop" \
    test "$(($(count "$log" "err:eventlog") - before_err)),$(($(count "$log" "trace:eventlog") - before_info))" = 1,2
check_that "events carry the display name" contains "$log" "ReportEventW L\"$NAME\""

# ---- start with DisplayProps.xml but no panel attached: the same stop, for the other reason
printf '<?xml version="1.0"?>\n<Props><Display><VID>0x1F3C</VID><PID>0x5A41</PID><DisplayColumns>12</DisplayColumns></Display></Props>\n' >"$DIR/DisplayProps.xml"
before_err=$(count "$(service_log)" "err:eventlog")
timeout 60 wine "$EXE" -start -silent
state="$(wine sc query LUMARA 2>/dev/null | tr -d '\r')"
check_that "service without a panel ended STOPPED" contains "$state" "STATE              : 1  STOPPED"
check_that "and logged its error event" test $(($(count "$(service_log)" "err:eventlog") - before_err)) -eq 1

# ---- debug run: Run on the command's own thread, no SCM; it ends by itself without a panel
WINEDEBUG=-all,+eventlog timeout 60 wine "$EXE" -DEBUG >"$WORK/debug.log" 2>&1
check_that "debug run ends by itself" test $? -eq 0
debug_out="$(tr -d '\r' <"$WORK/debug.log")"
check_that "debug run logs start, error and stop" test "$(grep -c 'eventlog:ReportEvent' <<<"$debug_out")" -eq 3

# ---- no option while not started by the SCM: ends without a window
timeout 60 wine "$EXE"
check_that "a run without options ends by itself" test $? -eq 0

# ---- removal
timeout 60 wine "$EXE" -uninstall -silent
check_that "service unknown to the SCM" bash -c "! wine sc query LUMARA 2>/dev/null | grep -q STATE"
check_that "its configuration, triggers included, is gone" bash -c "! wine reg query '$SVC_KEY' /reg:64 >/dev/null 2>&1"
check_that "event source key removed" bash -c "! wine reg query '$APP_KEY\\$NAME' /reg:64 >/dev/null 2>&1"
sources="$(wine reg query "$APP_KEY" /reg:64 /v Sources 2>/dev/null | tr -d '\r')"
check_that "Sources lost exactly the service's entry" \
    bash -c "grep -qE 'REG_MULTI_SZ    Application\\\\0tarsel front panel manager service\$' <<<'$sources'"

box="$(answer_box -uninstall)"
check_that "uninstall of a missing service shows message 6 with 1060" contains "$box" "text=LumaraService::Uninstall, Failed call to OpenService, Error:1060, "

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
