#!/usr/bin/env bash
# Runs the viewer on a fresh machine: installs what is missing, builds (which
# also writes the sample video and the ship's assets into build/bin), then
# starts the viewer in build/bin on SOURCE (a camera index, a video file or a
# stream's URL) or on the sample video. Without a display it runs the same frame loop
# offscreen (arrender) and writes arviewer.png (the last picture) and
# arviewer.avi (every picture).
#
# Usage: ./run.sh [SOURCE]
set -euo pipefail
cd "$(dirname "$0")"
top=$(pwd)
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"

source=${1:-$top/build/bin/board.avi}
# A file named relative to the checkout; camera digits and URLs as given.
if [[ ! "$source" =~ ^[0-9]$ && ! "$source" =~ ^(https?|rtsp|udp|tcp):// && "$source" != /* ]]; then
  source=$top/$source
fi

if [[ -n "${DISPLAY:-}" ]] && xdpyinfo >/dev/null 2>&1; then
  cd build/bin
  exec ./arviewer "$source"
fi

# No display: the same frame loop, drawn offscreen by arrender.
echo "run.sh: no display; drawing $source offscreen with arrender" >&2
cd build/bin
./arrender "$source" -o "$top/arviewer.avi" --snapshot "last:$top/arviewer.png"
echo "run.sh: the last picture is in $top/arviewer.png, the whole video in $top/arviewer.avi"
