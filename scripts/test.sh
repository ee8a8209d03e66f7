#!/usr/bin/env bash
# The whole test suite: sets up the machine, builds the host (ASan/UBSan), ThreadSanitizer,
# fuzz (clang libFuzzer targets) and Windows (mingw-w64: x64, and the x86 sink) trees and the
# Debian package, and runs every test of the host, ThreadSanitizer, fuzz and x64 Windows trees
# in one ctest run (the Windows tests under Wine, each fuzz target for a few seconds over its
# seed corpus, the package's checks in the host tree). Ends with ctest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

JOBS="${FP_JOBS:-$(nproc)}"
export CMAKE_BUILD_PARALLEL_LEVEL="$JOBS"
# The build trees in the order of CMakePresets.json's workflow presets (windows-x86, the
# 32-bit sink and its COM host, comes before windows, whose tests use it).
mapfile -t workflows < <(cmake --workflow --list-presets | sed -n 's/^  "\([^"]*\)".*/\1/p')
for preset in "${workflows[@]}"; do
    echo "== configure and build: $preset"
    cmake --workflow --preset "$preset"
done

# The Debian package, built by dpkg-buildpackage from debian/ into build/deb/; the host tree's
# package test checks it with lintian and hardening-check and runs it from an extracted tree.
echo "== build: the Debian package"
DEB_BUILD_OPTIONS="parallel=$JOBS" bash scripts/package.sh >build/package.log 2>&1 ||
    { tail -n 50 build/package.log; exit 1; }

# One ctest run over the trees, so the closing summary counts every test.
# The trees that have tests: CMakePresets.json's test presets.
mapfile -t test_trees < <(ctest --list-presets | sed -n 's/^  "\([^"]*\)".*/\1/p')
mkdir -p build/all
{
    echo "# Runs the tests of every build tree."
    for preset in "${test_trees[@]}"; do
        echo "subdirs(\"$(pwd)/build/$preset\")"
    done
} > build/all/CTestTestfile.cmake

exec ctest --test-dir build/all -j "$JOBS" --output-on-failure --timeout 600
