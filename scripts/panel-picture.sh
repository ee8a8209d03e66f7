#!/usr/bin/env bash
# Regenerates docs/panel.svg, the README's picture of the panel: runs the demo and keeps its
# picture of the CD track playing.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/demo.sh >/dev/null
mkdir -p docs
cp build/demo/cd-playing.svg docs/panel.svg
echo "docs/panel.svg regenerated"
