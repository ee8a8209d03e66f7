#!/usr/bin/env bash
# Wake-ups and CPU time of an idle lumara-sim, then of the same process in standby: the context
# switches of all its threads and its user + system time over a window, read from /proc.
#   bench/idle_wakeups.sh [seconds] [program] [DisplayProps.xml]
# The program defaults to the native-release lumara-sim; a path ending in .exe runs under Wine
# (the Windows tree's lumara-sim.exe, in the test prefix; only its own process is counted, not
# the wineserver).
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_STATE="${1:-60}"
PROGRAM="${2:-build/native-release/tools/sim/lumara-sim}"
PIPE="ZELK_WAKEUPS_$$"
# A properties file (for example with dimming rules); the simulator's built-in panel otherwise.
PROPS=()
[ -n "${3:-}" ] && PROPS=(--props "$3")

FIFO="$(mktemp -u)"
mkfifo "$FIFO"
exec 3<>"$FIFO"
rm -f "$FIFO"
if [[ "$PROGRAM" == *.exe ]]; then
    source tests/wine/wine-env.sh
    wine "$PROGRAM" --quiet --pipe "$PIPE" "${PROPS[@]}" <&3 >/dev/null 2>&1 &
    sleep 8
    PID="$(pgrep -n -f "lumara-sim.exe --quiet --pipe $PIPE" || true)"
else
    "$PROGRAM" --quiet --pipe "$PIPE" "${PROPS[@]}" <&3 >/dev/null 2>&1 &
    PID=$!
    sleep 2
fi
[ -n "$PID" ] || { echo "idle_wakeups: the program did not start"; exit 1; }

source bench/proc_counts.sh

measure() {
    local what="$1" s0 t0 s1 t1 hz
    hz=$(getconf CLK_TCK)
    s0=$(switches); t0=$(ticks)
    sleep "$SECONDS_PER_STATE"
    s1=$(switches); t1=$(ticks)
    awk -v w="$what" -v s=$((s1 - s0)) -v t=$((t1 - t0)) -v hz="$hz" -v d="$SECONDS_PER_STATE" \
        -v th="$(ls /proc/"$PID"/task | wc -l)" 'BEGIN {
        printf "%s: %d threads, %.2f wake-ups/s, CPU %.3f s in %d s (%.4f%% of a core)\n",
               w, th, s / d, t / hz, d, 100 * t / hz / d }'
}

measure "idle"
echo suspend >&3
sleep 1
measure "standby"
echo stop >&3
wait || true
