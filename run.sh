#!/usr/bin/env bash
# Runs the viewer on a fresh machine: installs what is missing, builds (which
# also writes the sample video and the ship's assets into build/bin), then
# starts the viewer in build/bin on SOURCE (a camera index or a video file) or
# on the sample video. Without a display it plays the video in a private Xvfb
# until the picture settles and saves the window as arviewer.png.
#
# Usage: ./run.sh [SOURCE]
set -euo pipefail
cd "$(dirname "$0")"
top=$(pwd)
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"

source=${1:-$top/build/bin/board.avi}
if [[ ! "$source" =~ ^[0-9]$ && "$source" != /* ]]; then source=$top/$source; fi

if [[ -n "${DISPLAY:-}" ]] && xdpyinfo >/dev/null 2>&1; then
  cd build/bin
  exec ./arviewer "$source"
fi

echo "run.sh: no display; playing $source in a private Xvfb" >&2
number_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$number_file" 2>/dev/null &
xvfb=$!
viewer=""
trap 'kill $viewer $xvfb 2>/dev/null || true; rm -f "$number_file"' EXIT
for _ in $(seq 1 100); do [[ -s "$number_file" ]] && break; sleep 0.1; done
export DISPLAY=:$(head -1 "$number_file")
(cd build/bin && exec ./arviewer "$source" >/dev/null) &
viewer=$!

window=$(timeout 30 xdotool search --sync --name 'Miravel - Orlan Vesk' | head -1 || true)
if [[ -z "$window" ]]; then
  wait "$viewer" || true
  echo "run.sh: the viewer did not open its window" >&2
  exit 1
fi
# The video has played once the picture stops changing.
previous="" still=0
for _ in $(seq 1 600); do
  sleep 0.5
  current=$(xwd -id "$window" -silent | md5sum)
  if [[ "$current" == "$previous" ]]; then still=$((still + 1)); else still=0; fi
  previous=$current
  [[ $still -ge 3 ]] && break
done
xwd -id "$window" -silent | convert xwd:- "$top/arviewer.png"
echo "run.sh: the viewer's picture after the video is in $top/arviewer.png"
