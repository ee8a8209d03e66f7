#!/usr/bin/env bash
# Wake-ups and CPU time of an idle lumara-sim, then of the same process in standby: the context
# switches of all its threads and its user + system time over a window, read from /proc.
#   bench/idle_wakeups.sh [seconds] [program] [DisplayProps.xml]
# The program defaults to the native-release lumara-sim; a path ending in .exe runs under Wine
# (the Windows tree's lumara-sim.exe, in the test prefix; only its own process is counted, not
# the wineserver).
# With LCDPROC_CLIENT=1 the LCDproc server listens on a free port, and between the idle and the
# standby window a client connects, puts up a screen with one static string widget (priority
# LCDPROC_PRIORITY, default foreground) and stays silent: its window must show no more wake-ups
# than the idle one before it.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_STATE="${1:-60}"
PROGRAM="${2:-build/native-release/tools/sim/lumara-sim}"
PIPE="ZELK_WAKEUPS_$$"
# A properties file (for example with dimming rules); the simulator's built-in panel otherwise.
PROPS=()
[ -n "${3:-}" ] && PROPS=(--props "$3")
LCD=()
if [ "${LCDPROC_CLIENT:-0}" = 1 ]; then
    LCD_PORT="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
    LCD=(--lcdproc-port "$LCD_PORT")
fi

FIFO="$(mktemp -u)"
mkfifo "$FIFO"
exec 3<>"$FIFO"
rm -f "$FIFO"
if [[ "$PROGRAM" == *.exe ]]; then
    source tests/wine/wine-env.sh
    wine "$PROGRAM" --quiet --pipe "$PIPE" "${PROPS[@]}" "${LCD[@]}" <&3 >/dev/null 2>&1 &
    sleep 8
    PID="$(pgrep -n -f "lumara-sim.exe --quiet --pipe $PIPE" || true)"
else
    "$PROGRAM" --quiet --pipe "$PIPE" "${PROPS[@]}" "${LCD[@]}" <&3 >/dev/null 2>&1 &
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
CLIENT=
if [ "${LCDPROC_CLIENT:-0}" = 1 ]; then
    # Says hello, shows one static screen, then only reads (the server's listen/ignore).
    python3 -u - "$LCD_PORT" "${LCDPROC_PRIORITY:-foreground}" <<'PY' &
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
f = s.makefile("rw", newline="\n")
def say(line):
    f.write(line + "\n"); f.flush()
    reply = f.readline().strip()
    while reply.startswith(("listen", "ignore")):
        reply = f.readline().strip()
    if not reply.startswith(("success", "connect")):
        sys.exit("idle client: %s -> %s" % (line, reply))
for line in ["hello", "client_set -name idle", "screen_add s", "screen_set s -priority " + sys.argv[2],
             "screen_set s -heartbeat off", "widget_add s t string", 'widget_set s t 1 1 "Idle client"']:
    say(line)
while f.readline():
    pass
PY
    CLIENT=$!
    sleep 2
    measure "idle, LCDproc client (${LCDPROC_PRIORITY:-foreground}, static)"
fi
echo suspend >&3
sleep 1
measure "standby"
[ -n "$CLIENT" ] && kill "$CLIENT" 2>/dev/null
echo stop >&3
wait || true
