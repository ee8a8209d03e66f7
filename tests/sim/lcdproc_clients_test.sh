#!/bin/bash
# LCDproc's own clients against lumara-sim's LCDproc server on a free loopback port: lcdproc's
# CPU and memory screens show on the virtual panel and rotate, lcdexec's menus are taken without
# a complaint, and the clock comes back once the clients have gone.
#   lcdproc_clients_test.sh <lumara-sim> <scratch folder>
set -u
sim=$1
work=$2
rm -rf "$work" && mkdir -p "$work"
if ! command -v lcdproc >/dev/null || ! command -v lcdexec >/dev/null; then
    echo "lcdproc and lcdexec are not installed (scripts/setup.sh installs them)"
    exit 1
fi
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

# The simulator reads its commands from a FIFO kept open by this script.
mkfifo "$work/commands"
"$sim" --quiet --lcdproc-port "$port" --lcdproc-address 127.0.0.1 <"$work/commands" \
    >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
exec 3>"$work/commands"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    echo stop >&3 2>/dev/null
    exec 3>&-
    wait "$sim_pid" 2>/dev/null
}
trap cleanup EXIT

# The two text lines of a snapshot, "first|second".
n=0
picture() {
    n=$((n + 1))
    local file="$work/snap$n.svg"
    echo "snapshot $file" >&3
    for _ in $(seq 100); do [ -s "$file" ] && grep -q '</svg>' "$file" && break; sleep 0.05; done
    python3 - "$file" <<'PY'
import re, sys
svg = open(sys.argv[1], encoding="utf-8").read()
lines = []
for group in re.findall(r'<g class="line" id="line\d">(.*?)</g>', svg, re.S):
    cells = [" "] * 12
    for x, ch in re.findall(r'<tspan x="(\d+)"[^>]*>([^<]*)</tspan>', group):
        column = (int(x) - 34) // 24
        if 0 <= column < 12:
            cells[column] = ch
    lines.append("".join(cells))
print("|".join(lines))
PY
}
fail=0
check() {  # <what> <condition result>
    if [ "$2" = 0 ]; then echo "ok: $1"; else echo "FAILED: $1"; fail=1; fi
}
is_clock() { [[ "$1" =~ ^[0-9]{1,2}:[0-9]{2} ]]; }

for _ in $(seq 100); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null && break
    sleep 0.1
done
first=$(picture)
is_clock "$first"; check "the clock shows before any client ($first)" $?

cat >"$work/lcdexec.conf" <<CONF
[lcdexec]
Address=127.0.0.1
Port=$port
ReportLevel=2
ReportToSyslog=false
Foreground=true
[MainMenu]
Entry=CmdA
Entry=MenuB
[CmdA]
DisplayName="Say A"
Exec="echo a"
[MenuB]
DisplayName="A menu"
Entry=CmdC
[CmdC]
DisplayName="Say C"
Exec="echo c"
Parameter=SLIDER_ARG
[SLIDER_ARG]
Type=slider
DisplayName="Level"
CONF
lcdexec -f -c "$work/lcdexec.conf" >"$work/lcdexec.out" 2>&1 &
pids+=($!)
lcdexec_pid=$!
lcdproc -f -s 127.0.0.1 -p "$port" -e 1 C M L >"$work/lcdproc.out" 2>&1 &
pids+=($!)
lcdproc_pid=$!

# lcdproc's screens rotate (each shows for a few seconds): collect what shows for 9 s.
for _ in $(seq 18); do
    sleep 0.5
    picture >>"$work/pictures.txt"
done
grep -q '^CPU' "$work/pictures.txt"; check "lcdproc's CPU screen shows" $?
screens=$(grep -v '^CPU' "$work/pictures.txt" | grep -cvE '^[0-9]{1,2}:[0-9]{2}')
[ "$screens" -gt 0 ]; check "another of lcdproc's screens follows it" $?
kill -0 "$lcdexec_pid" 2>/dev/null; check "lcdexec stays connected (its menu commands were taken)" $?
grep -qi "huh\|error" "$work/lcdexec.out" "$work/lcdproc.out"; [ $? != 0 ]
check "neither client reported an error" $?

kill "$lcdproc_pid" "$lcdexec_pid" 2>/dev/null
wait "$lcdproc_pid" "$lcdexec_pid" 2>/dev/null
pids=()
back=1
for _ in $(seq 40); do
    last=$(picture)
    if is_clock "$last"; then back=0; break; fi
    sleep 0.25
done
check "the clock is back once the clients have gone ($last)" $back
if [ $fail != 0 ]; then
    echo "--- what showed:"; cat "$work/pictures.txt"
    echo "--- lcdproc:"; cat "$work/lcdproc.out"; echo "--- lcdexec:"; cat "$work/lcdexec.out"
    echo "--- lumara-sim:"; cat "$work/sim.err"
fi
exit $fail
