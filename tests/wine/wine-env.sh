# Sourced by the Wine scripts: the shared test prefix and a quiet, display-less Wine.
FP_REPO_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
export FP_REPO_DIR
export WINEPREFIX="${WINEPREFIX:-$FP_REPO_DIR/build/wine/prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY WAYLAND_DISPLAY
