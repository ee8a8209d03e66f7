#!/usr/bin/env bash
# Wake-ups and CPU time of Lumara.exe running idle as a service under Wine's service control
# manager, with the panel stood in at the HID boundary (the chain test's stand-ins and recorder):
# the context switches of all the service process's threads and its user + system time over a
# window, read from /proc. Wine's own server is not counted. Power events cannot be raised under
# Wine, so only the idle state is measured.
#   bench/service_wine_idle.sh [seconds] [windows build folder]
set -uo pipefail
cd "$(dirname "$0")/.."
repo="$(pwd)"
SECONDS_IDLE="${1:-60}"
build="$(cd "${2:-build/windows}" && pwd)"
lumara="$build/service/host/program/Lumara.exe"
hid="$build/tests/wine/standin/hid.dll"
setupapi="$build/tests/wine/standin/setupapi.dll"
recorder="$build/tests/wine/hid_recorder.exe"
control="$build/tests/wine/service_control.exe"
replay="$build/tests/quillon/panel_replay.exe"
for f in "$lumara" "$hid" "$setupapi" "$recorder" "$control" "$replay"; do
    [ -f "$f" ] || { echo "service_wine_idle: $f is not built (build the windows preset)"; exit 1; }
done
source "$repo/tests/wine/wine-checks.sh"
source "$repo/tests/wine/chain_support.sh"

chain_prefix "$build/bench-idle" || exit 1
dir="$WINEPREFIX/drive_c/Program Files/Lumara Bench"
mkdir -p "$dir"
cp "$lumara" "$(dirname "$lumara")/Lumara.DLL" "$dir/"
chain_panel_files "$dir"
exe='C:\Program Files\Lumara Bench\Lumara.exe'
timeout 60 wine "$exe" -install -silent
wine reg add 'HKLM\SYSTEM\CurrentControlSet\Services\LUMARA' /reg:64 /v Start /t REG_DWORD \
    /d 3 /f >/dev/null 2>&1
chain_start "$exe" >/dev/null
[ "$(service_state)" == RUNNING ] || { echo "service_wine_idle: the service did not start"; exit 1; }
sleep 3  # the start-up screen and the first clock screen are drawn

PID="$(pgrep -f 'Lumara Bench.Lumara\.exe' | head -n 1)"
[ -n "$PID" ] || { echo "service_wine_idle: no Lumara.exe process"; exit 1; }
source "$repo/bench/proc_counts.sh"
per_thread() {  # "<thread id> <name> <context switches>" a line
    for task in /proc/"$PID"/task/*; do
        echo "${task##*/} $(tr ' ' '_' <"$task/comm") $(awk '/ctxt_switches/ {s += $2} END {print s + 0}' "$task/status")"
    done
}
before="$(per_thread)"
s0=$(switches) t0=$(ticks)
sleep "$SECONDS_IDLE"
s1=$(switches) t1=$(ticks)
after="$(per_thread)"
join <(sort <<<"$before") <(sort <<<"$after") |
    awk -v d="$SECONDS_IDLE" '{printf "  thread %s (%s): %.2f wake-ups/s\n", $1, $2, ($5 - $3) / d}'
awk -v s=$((s1 - s0)) -v t=$((t1 - t0)) -v hz="$(getconf CLK_TCK)" -v d="$SECONDS_IDLE" \
    -v th="$(ls /proc/"$PID"/task | wc -l)" 'BEGIN {
    printf "Lumara.exe idle under Wine: %d threads, %.2f wake-ups/s, CPU %.3f s in %d s (%.4f%% of a core)\n",
           th, s / d, t / hz, d, 100 * t / hz / d }'

timeout 60 wine "$exe" -stop -silent >/dev/null 2>&1
timeout 60 wine "$exe" -uninstall -silent >/dev/null 2>&1
