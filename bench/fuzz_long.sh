#!/usr/bin/env bash
# Runs every fuzz target long over its seed corpus and prints the runs each made.
#   bench/fuzz_long.sh [seconds per target, default 600] [target ...]
# New inputs go to build/fuzz/fuzz-scratch/<target>; a crash leaves its input in the current
# folder and stops the script.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET="${1:-600}"
shift || true
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "${FP_JOBS:-$(nproc)}" >/dev/null
TARGETS=("$@")
if [ "${#TARGETS[@]}" -eq 0 ]; then
    TARGETS=(record_fuzz value_readers_fuzz display_props_fuzz hid_parse_fuzz sim_commands_fuzz
             command_line_fuzz multi_sz_fuzz)
fi
for target in "${TARGETS[@]}"; do
    scratch="build/fuzz/fuzz-scratch/$target"
    mkdir -p "$scratch"
    log="$(mktemp)"
    if ! "build/fuzz/fuzz/$target" -max_total_time="$SECONDS_PER_TARGET" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 "$scratch" "fuzz/corpus/$target" >"$log" 2>&1; then
        tail -40 "$log"
        echo "$target: FAILED"
        exit 1
    fi
    runs=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
    echo "$target: $runs runs in $SECONDS_PER_TARGET s, corpus $(ls "$scratch" | wc -l) new inputs"
    rm -f "$log"
done
