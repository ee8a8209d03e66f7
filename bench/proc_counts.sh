# Sourced by the wake-up benchmarks: counts of process $PID read from /proc.

# Context switches (voluntary + involuntary) of every thread.
switches() {
    local total=0 n
    for status in /proc/"$PID"/task/*/status; do
        n=$(awk '/ctxt_switches/ {s += $2} END {print s + 0}' "$status" 2>/dev/null || echo 0)
        total=$((total + n))
    done
    echo "$total"
}

# User + system CPU time, in clock ticks.
ticks() { awk '{print $14 + $15}' /proc/"$PID"/stat; }
