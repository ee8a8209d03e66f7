# Sourced by the service chain scripts: a private prefix with a persistent Wine server, the
# stand-in panel, and the checks on what reached it.

# chain_prefix <work dir>: a fresh clone of the prepared prefix, its server kept up until exit,
# the recorder serving the stand-in devices.
chain_prefix() {
    local work="$1"
    rm -rf "$work"
    mkdir -p "$work/rec"
    bash "$repo/tests/wine/wine-prefix.sh" "$work/prefix" >/dev/null || { echo "FAIL: no prefix"; return 1; }
    source "$repo/tests/wine/wine-env.sh"
    export WINEPREFIX="$work/prefix"
    CHAIN_WORK="$work"
    wineserver -p
    trap 'wineserver -k 2>/dev/null' EXIT
    # With CHAIN_SERVICES_LOG set, the first command starts the service manager with the debug
    # output and event log calls traced: the services it starts write them to that file.
    if [ -n "${CHAIN_SERVICES_LOG:-}" ]; then
        WINEDEBUG=-all,+eventlog,+debugstr wine reg query 'HKLM\SYSTEM' /reg:64 /v none \
            >/dev/null 2>"$CHAIN_SERVICES_LOG"
    fi
    cp "$recorder" "$control" "$replay" "$work/rec/"
    (cd "$work/rec" && exec wine hid_recorder.exe "$(winepath -w "$work/rec")" >/dev/null 2>&1) &
    for _ in $(seq 1 100); do [ -f "$work/rec/recorder.ready" ] && break; sleep 0.1; done
    [ -f "$work/rec/recorder.ready" ] || { echo "FAIL: the recorder did not start"; return 1; }
}

# chain_panel_files <folder>: the panel's default DisplayProps.xml and the stand-in HID DLLs beside the program, chosen for Lumara.exe
# (the per-program setting also reaches the service that services.exe starts).
chain_panel_files() {
    cp "$repo/installer/DisplayProps.xml" "$1/"
    cp "$hid" "$1/hid.dll"
    cp "$setupapi" "$1/setupapi.dll"
    local key='HKCU\Software\Wine\AppDefaults\Lumara.exe\DllOverrides'
    wine reg add "$key" /reg:64 /v hid /d native /f >/dev/null 2>&1
    wine reg add "$key" /reg:64 /v setupapi /d native /f >/dev/null 2>&1
}

imports_of() {  # <exe> <dll name as imported>
    x86_64-w64-mingw32-objdump -p "$1" | sed -n "/DLL Name: $2\$/,/^\$/p" |
        awk 'NF == 3 && $1 ~ /^[0-9a-f]+$/ {print $3}' | sort | tr '\n' ' '
}
exports_of() {
    x86_64-w64-mingw32-objdump -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        awk '$2 ~ /^[0-9]+\]$/ {print $3}' | sort | tr '\n' ' '
}

service_state() {
    wine sc query LUMARA 2>/dev/null | tr -d '\r' | awk '/STATE/ {print $4}'
}

wine32_works() { /usr/lib/wine/wine --version >/dev/null 2>&1; }

# The picture the reports so far leave on the panel: "line0|line1|status icons|media icons".
picture() {
    (cd "$CHAIN_WORK/rec" && wine panel_replay.exe panel.log 2>/dev/null) | tr -d '\r' |
        sed 's/^[a-z0-9]*: \{0,1\}//' | paste -sd '|'
}
# wait_picture <pattern>: polls until the picture matches the extended regular expression.
wait_picture() {
    local p
    for _ in $(seq 1 40); do
        p="$(picture)"
        grep -qE "$1" <<<"$p" && break
        sleep 0.5
    done
    echo "$p"
}

chain_start() {  # <program path>
    local started
    started=$(date +%s%3N)
    timeout 60 wine "$1" -start -silent
    echo "start took $(($(date +%s%3N) - started)) ms"
}

# The first reports after the start: the brightness from DisplayProps.xml (0), then the reset
# of the whole panel; then the clock screen (time and date of this minute or the one before).
chain_expect_startup() {
    check "start-up reports" "02 00 00 00 00 00 00 00|03 00 00 00 00 00 00 00|05 00 00 00 00 00 00 00|06 00 00 00 00 00 00 00|04 00 00 00 00 00 00 00" \
        "$(head -5 "$CHAIN_WORK/rec/panel.log" | paste -sd '|')"
    local p now before
    p="$(wait_picture '^[0-9]')"
    now="$(date +%-I:%M)" before="$(date -d '-1 min' +%-I:%M)"
    check "clock screen shows the time" yes \
        "$(grep -qE "^($now|$before)" <<<"$p" && echo yes || echo "no: $p")"
    check "clock screen shows the date" yes \
        "$(grep -qF "|$(date +%-m/%-d/%Y)" <<<"$p" && echo yes || echo "no: $p")"
}

# chain_session <Ostrel.dll> <ostrel_host.exe> <label>: registers the sink with the regsvr32 of
# its bitness, runs chain_session_registered, and unregisters it.
chain_session() {
    local dll="$1" host="$2" label="$3" bin="$CHAIN_WORK/$3" regsvr32='C:\windows\system32\regsvr32.exe'
    [ "$label" = x86 ] && regsvr32='C:\windows\syswow64\regsvr32.exe'
    mkdir -p "$bin"
    cp "$dll" "$bin/"
    (cd "$bin" && wine "$regsvr32" /s Ostrel.dll) || check "$label sink registered" 0 $?
    chain_session_registered "$host" "$label"
    (cd "$bin" && wine "$regsvr32" /u /s Ostrel.dll)
}

# chain_session_registered <ostrel_host.exe> <label>: the host creates the registered sink and
# opens a session reporting a CD track; the panel shows it.
chain_session_registered() {
    local host="$1" label="$2" bin="$CHAIN_WORK/$2"
    mkdir -p "$bin"
    cp "$host" "$bin/"
    (cd "$bin" && OSTREL_END_TO_END=1 timeout 90 wine "$(basename "$host")" --gtest_filter='EndToEnd.*' 2>&1) |
        tr -d '\r' >"$bin/host.log"
    check "$label host session" yes \
        "$(grep -q '^\[  PASSED  \] 1 test' "$bin/host.log" && ! grep -q SKIPPED "$bin/host.log" && echo yes || echo no)"
    local p
    p="$(wait_picture '^Blue Train  \|01:15       \|.*\[play\]')"
    check "$label session on the panel" "Blue Train  |01:15       |[play]|[CD]" "$(sed 's/ *$//' <<<"$p")"
}

# Controls 201 and 204 set the brightness; the stop ends with the stopping screen and STOPPED.
chain_controls_and_stop() {
    local log="$CHAIN_WORK/rec/panel.log"
    (cd "$CHAIN_WORK/rec" && wine service_control.exe LUMARA 201)
    check "control 201 taken" 0 $?
    (cd "$CHAIN_WORK/rec" && wine service_control.exe LUMARA 204)
    check "control 204 taken" 0 $?
    sleep 0.5
    check "brightness reports for 201 and 204" "02 a4 00 00 00 00 00 00|02 af 00 00 00 00 00 00" \
        "$(grep '^02 ' "$log" | tail -2 | paste -sd '|')"
    local started
    started=$(date +%s%3N)
    timeout 60 wine "$1" -stop -silent
    echo "stop took $(($(date +%s%3N) - started)) ms"
    check "service STOPPED" STOPPED "$(service_state)"
    check "stopping screen" "Service     |stopping... " "$(picture | cut -d'|' -f1,2)"
}
