#!/usr/bin/env bash
# The Windows media session on the panel, under Wine: the stand-in session manager (an
# activatable class registered in the prefix, scripted by this test) -> LumaraNowPlaying.exe ->
# the panel pipe -> Lumara.exe under the service manager with the stand-in panel -> its reports.
# The records pass a tap that feeds lumara-sim.exe the same ones, and after each step the
# panel's picture must be the one lumara-sim draws. Then, with the program writing straight to
# the service: its wake-ups while idle, its memory and the time from a change of the session to
# the panel's first report (printed as "measured: ...").
#   nowplaying_wine_test.sh <work dir> <Lumara.exe> <hid.dll> <setupapi.dll> <hid_recorder.exe>
#       <service_control.exe> <panel_replay.exe> <LumaraNowPlaying.exe>
#       <standin_media_session.dll> <standin_session_ctl.exe> <record_tap.exe> <lumara-sim.exe>
set -uo pipefail
work="$1" lumara="$2" hid="$3" setupapi="$4" recorder="$5" control="$6" replay="$7"
nowplaying="$8" standin="$9" ctl="${10}" tap="${11}" sim="${12}"
repo="$(cd "$(dirname "$0")/../.." && pwd)"
source "$repo/tests/wine/wine-checks.sh"
source "$repo/tests/wine/chain_support.sh"

chain_prefix "$work" || exit 1
dir="$WINEPREFIX/drive_c/Program Files/Lumara Chain"
mkdir -p "$dir"
cp "$lumara" "$(dirname "$lumara")/Lumara.DLL" "$dir/"
chain_panel_files "$dir"
exe='C:\Program Files\Lumara Chain\Lumara.exe'
timeout 60 wine "$exe" -install -silent
wine reg add 'HKLM\SYSTEM\CurrentControlSet\Services\LUMARA' /reg:64 /v Start /t REG_DWORD \
    /d 3 /f >/dev/null 2>&1
chain_start "$exe"
check "service RUNNING under the SCM" RUNNING "$(service_state)"
chain_expect_startup

# The user's side: the program, the stand-in class and the tools in a folder of their own.
np="$work/np"
mkdir -p "$np"
cp "$nowplaying" "$standin" "$ctl" "$tap" "$sim" "$replay" "$np/"
cp "$repo/installer/DisplayProps.xml" "$np/"
wine reg add 'HKLM\Software\Microsoft\WindowsRuntime\ActivatableClassId\Windows.Media.Control.GlobalSystemMediaTransportControlsSessionManager' \
    /reg:64 /v DllPath /d "$(winepath -w "$np/standin_media_session.dll")" /f >/dev/null 2>&1
session() {  # session <command...>: one scripted change; prints the stand-in's answer
    (cd "$np" && wine standin_session_ctl.exe "$@" 2>/dev/null) | tr -d '\r'
}
sim_picture() {
    (cd "$np" && wine panel_replay.exe sim.log 2>/dev/null) | tr -d '\r' |
        sed 's/^[a-z0-9]*: \{0,1\}//' | paste -sd '|'
}

# lumara-sim with the panel's properties, fed by the tap together with the service.
fifo="$(mktemp -u)"
mkfifo "$fifo"
exec 3<>"$fifo"
rm -f "$fifo"
(cd "$np" && exec wine lumara-sim.exe --quiet --props DisplayProps.xml --pipe LUMARA_NP_SIM \
    --report-log sim.log <&3 >/dev/null 2>&1) &
(cd "$np" && exec wine record_tap.exe LUMARA_NP_TAP ZELK_FRONTPANEL_PIPE LUMARA_NP_SIM \
    >/dev/null 2>&1) &
(cd "$np" && exec wine LumaraNowPlaying.exe --pipe LUMARA_NP_TAP >/dev/null 2>&1) &

# step <label> <regular expression>: waits until the panel shows the expected picture and
# lumara-sim shows the same.
step() {
    local p s
    for _ in $(seq 1 40); do
        p="$(picture)" s="$(sim_picture)"
        grep -qE "$2" <<<"$p" && [ "$p" == "$s" ] && break
        sleep 0.25
    done
    check "$1: on the panel" yes "$(grep -qE "$2" <<<"$p" && echo yes || echo "no: $p")"
    check "$1: as lumara-sim draws it" "$s" "$p"
}
did() {  # did <label> <command...>: the stand-in took the change
    local answer
    answer="$(session "${@:2}")"
    check "$1" ok "${answer%% *}"
}

did "a player's session appears" appear 1 Player.App
did "its track" media 1 music 'Miles|So'
did "its position" position 1 75 300
step "a session that has not played shows the clock" '^[0-9]+:[0-9]{2}'
did "it plays" status 1 playing
step "artist - title, the track time, play" '^Miles - So  \|01:1[5-9] .*\[play\]'
did "it pauses" status 1 paused
step "paused" '^Miles - So  \|01:[12][0-9] .*\[pause\]'
did "it seeks" position 1 200 300
step "the time after a seek" '^Miles - So  \|03:20 .*\[pause\]'
did "it repeats the list" repeat 1 list
step "repeat" '^Miles - So  \|03:20 .*\[repeat\]'
did "a second session appears" appear 2 Video.App
did "with a video" media 2 video '|Film'
did "at 1:02:05" position 2 3725 7200
did "which plays" status 2 playing
did "and becomes the current session" current 2
step "the current session's video" '^Film +\|01:02:0[5-9]'
did "the video's session closes" close 2
step "the first session again" '^Miles - So  \|03:20 '
did "the first session closes" close 1
step "nothing open: the clock" '^[0-9]+:[0-9]{2}'

# ---- measurements, with the program writing straight to the service
# The program's own process: Wine gives it its Windows path as command line.
# (this test's copy only: other prefixes may run one too).
np_pattern="^Z:$(sed 's|[^A-Za-z0-9]|.|g' <<<"$np").LumaraNowPlaying\\.exe"
pid_of() { pgrep -f "$np_pattern" | head -1; }
(cd "$np" && wine LumaraNowPlaying.exe --quit >/dev/null 2>&1)
for _ in $(seq 1 50); do [ -z "$(pid_of)" ] && break; sleep 0.1; done
check "--quit ends the program" "" "$(pid_of)"
(cd "$np" && exec wine LumaraNowPlaying.exe >/dev/null 2>&1) &
for _ in $(seq 1 50); do [ -n "$(pid_of)" ] && break; sleep 0.1; done
PID="$(pid_of)"
did "a session appears before the direct run" appear 3 Player.App
did "with a track" media 3 music 'Ab|Cd'
did "paused" status 3 paused
p="$(wait_picture '^Ab - Cd  ')"
check "the program writes straight to the service" yes "$(grep -q '^Ab - Cd  ' <<<"$p" && echo yes || echo "no: $p")"

# Time from a change in the session to the panel's first report, five changes of the title.
log="$work/rec/panel.log"
latencies=()
for i in 1 2 3 4 5 6 7 8; do
    [ ${#latencies[@]} -ge 5 ] && break
    # A quiet panel first (the previous redraw done).
    size0=-1
    while [ "$size0" != "$(stat -c %s "$log")" ]; do size0=$(stat -c %s "$log"); sleep 0.3; done
    session media 3 music "Ab|T$i" >"$work/answer" &
    while [ "$(stat -c %s "$log")" -eq "$size0" ]; do sleep 0.002; done
    reported=$(date +%s%3N)
    wait $!
    # A report before the change came from something else (the clock): not counted.
    latency=$((reported - $(awk '{print $2}' "$work/answer")))
    [ "$latency" -ge 0 ] && latencies+=("$latency")
    sleep 1
done
echo "measured: change to the panel's first report (ms): ${latencies[*]}"

# Idle: a paused session, the pipe in step.
source "$repo/bench/proc_counts.sh"
sleep 2
s0=$(switches)
t0=$(ticks)
sleep 20
s1=$(switches)
t1=$(ticks)
echo "measured: idle LumaraNowPlaying.exe: $(awk -v s=$((s1 - s0)) 'BEGIN {printf "%.2f", s / 20}') wake-ups/s, CPU $((t1 - t0)) ticks in 20 s, $(ls /proc/"$PID"/task | wc -l) threads"
echo "measured: memory of LumaraNowPlaying.exe under Wine: $(awk '/VmRSS|RssAnon/ {printf "%s %s kB  ", $1, $2}' /proc/"$PID"/status)"
awk -v s=$((s1 - s0)) 'BEGIN {exit !(s / 20 <= 1.5)}'
check "idle: at most about one wake-up a second" 0 $?

(cd "$np" && wine LumaraNowPlaying.exe --quit >/dev/null 2>&1)
echo stop >&3
timeout 60 wine "$exe" -stop -silent
timeout 60 wine "$exe" -uninstall -silent
check "service removed" "" "$(service_state)"
[ "$failures" -eq 0 ]
