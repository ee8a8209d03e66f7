#!/usr/bin/env bash
# lumara-sim.exe serving the real named pipe (created with its restricted security descriptor)
# and lumara-send.exe writing records to it, under Wine:
#   sim_wine_test.sh lumara-sim.exe lumara-send.exe workdir
set -uo pipefail

sim="$1" send="$2" work="$3"
repo="$(cd "$(dirname "$0")/../.." && pwd)"

rm -rf "$work" && mkdir -p "$work"
bash "$repo/tests/wine/wine-prefix.sh" "$work/prefix" || { echo "FAIL: no prefix"; exit 1; }
source "$repo/tests/wine/wine-env.sh"
export WINEPREFIX="$work/prefix"
sim_pid=""
finish() {
    exec 3>&- 2>/dev/null
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    wineserver -k 2>/dev/null
}
trap finish EXIT

source "$repo/tests/wine/wine-checks.sh"
pipe="ZELK_WINE_TEST_$$"
lsend() { wine "$send" --pipe "$pipe" "$@" >/dev/null 2>&1; echo $?; }

# Nobody serves the pipe yet.
check "lumara-send without a server exits 1" 1 "$(lsend open)"

mkfifo "$work/input"
wine "$sim" --pipe "$pipe" --report-log "Z:${work//\//\\}\\reports.txt" \
    <"$work/input" >"$work/out.txt" 2>"$work/err.txt" &
sim_pid=$!
exec 3>"$work/input"

served=1
for _ in $(seq 1 150); do
    served="$(lsend 0)"
    [ "$served" == 0 ] && break
    sleep 0.2
done
check "the simulator serves the pipe" 0 "$served"

sent="$(lsend open)$(lsend CD True)$(lsend MSPROPTAG_Play True)$(lsend 0x2019 "So What")"
check "records by name, by tag and by number are sent" 0000 "$sent"
sleep 1
echo "control 201" >&3
sleep 0.5
echo "stop" >&3

status=124
for _ in $(seq 1 100); do
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        wait "$sim_pid"
        status=$?
        break
    fi
    sleep 0.2
done
sim_pid=""
check "the simulator exits 0 after stop" 0 "$status"

log="$work/reports.txt"
report() { grep -qx "$*" "$log" && echo yes || echo no; }  # that exact report line logged?
check "the track name reached the first line ('S' in column 0)" yes "$(report 01 c0 53 00 00 00 00 00)"
check "brightness 0xa4 from control 201" yes "$(report 02 a4 00 00 00 00 00 00)"
check "the stopping screen ends the log" \
    "03 02 00 00 00 00 00 00|05 00 00 00 00 00 00 00|06 00 00 00 00 00 00 00|04 00 00 00 00 00 00 00" \
    "$(tail -n 4 "$log" | tr -d '\r' | paste -sd'|')"
check "nothing on standard error" "" "$(cat "$work/err.txt")"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
