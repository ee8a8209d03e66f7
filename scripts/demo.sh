#!/usr/bin/env bash
# Builds the simulator and plays a scripted media session on the virtual panel: a CD with a
# long track name that scrolls, track times, pause, the volume and mute, a DVD, the radio,
# photos, stop and the end of the session. Ends by itself in about 45 seconds, leaving the
# panel's report log and two SVG pictures in build/demo/: the CD track playing (the README's
# picture, see scripts/panel-picture.sh) and the last screen before the service stopped.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

cmake --preset native-release >/dev/null
cmake --build --preset native-release --target lumara-sim lumara-send -j "${FP_JOBS:-2}" >/dev/null

BIN=build/native-release/tools/sim
OUT=build/demo
mkdir -p "$OUT"
PIPE="ZELK_FRONTPANEL_DEMO_$$"

send() { "$BIN/lumara-send" --pipe "$PIPE" "$@"; }

# Writes the simulator's commands to its standard input and the media center's status
# changes to its pipe.
scenario() {
    # Wait until the service serves the pipe (tag 0 changes nothing).
    for _ in $(seq 1 100); do
        send 0 2>/dev/null && break
        sleep 0.1
    done
    sleep 2
    send open
    send CD True
    send TrackNumber 1
    send TotalTracks 5
    send TrackName "So What - Kind of Blue (1959)"
    send Play True
    for t in 0 1 2 3 4 5 6 7 8; do
        send TrackTime "$t"
        sleep 1
    done
    send Pause True
    sleep 2
    send Play True
    for level in 8000 20000 45000 65535; do
        echo "volume $level"
        sleep 0.7
    done
    echo "mute 1"
    sleep 1.5
    echo "mute 0"
    sleep 1
    send TrackNumber 4
    send TrackName "All Blues"
    send RepeatSet True
    send TrackTime 125
    sleep 2
    echo "snapshot $OUT/cd-playing.svg"
    send DVD True
    send TrackNumber 3
    send TotalTracks 12
    for t in 3725 3726 3727; do
        send TrackTime "$t"
        sleep 1
    done
    send FF2 True
    sleep 1.5
    send Play True
    send Radio True
    send RadioFrequency 101100000
    sleep 3
    send RadioFrequency 88500000
    sleep 2
    send Photos ""
    send CurrentPicture "Beach.jpg"
    sleep 3
    send CurrentPicture "Lighthouse at dusk.jpg"
    sleep 4
    send Stop True
    sleep 2
    send close
    sleep 3
    echo "control 204"
    sleep 1
    echo "snapshot $OUT/last-screen.svg"
    echo stop
}

echo "The virtual front panel, driven by the service's own code (pipe $PIPE):"
scenario | "$BIN/lumara-sim" --pipe "$PIPE" --report-log "$OUT/reports.txt"
echo "The service stopped; the demo is over. The panel's reports and pictures: $OUT/"
