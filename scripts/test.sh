#!/usr/bin/env bash
# The whole test suite: sets up the machine, builds the host (ASan/UBSan), ThreadSanitizer,
# fuzz (clang libFuzzer targets) and Windows (mingw-w64) trees, and runs every test of all of
# them in one ctest run (the Windows tests under Wine, each fuzz target for a few seconds over
# its seed corpus). Ends with ctest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

JOBS="${FP_JOBS:-$(nproc)}"
for preset in native native-tsan fuzz windows; do
    echo "== configure and build: $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$JOBS"
done

# One ctest run over the trees, so the closing summary counts every test.
mkdir -p build/all
{
    echo "# Runs the tests of every build tree."
    for preset in native native-tsan fuzz windows; do
        echo "subdirs(\"$(pwd)/build/$preset\")"
    done
} > build/all/CTestTestfile.cmake

exec ctest --test-dir build/all -j "$JOBS" --output-on-failure --timeout 600
