#!/usr/bin/env bash
# How old a live stream's frames are when arrender draws them, with the
# newest-frame reader (the default for live sources) and with every frame
# kept (--every-frame, how live sources were read before).
#
# A local ffmpeg server on 127.0.0.1 streams a pre-encoded MJPEG video
# (-c copy, so that the server costs little) at its own rate: the sample
# video, twice over, scaled to WIDTHxHEIGHT and sent at FPS frames a second,
# with each frame's index drawn in its top left corner. arrender is slower
# than that on purpose (1080p at 120 fps by default, on a software renderer):
# with every frame kept it falls ever further behind. frame_age_report reads
# arrender's --frame-ages log and the recorded pictures (whose corner shows
# which frame was drawn) and prints one line per reader.
#
# Goal: the age at the 95th percentile at most one source period plus the
# loop's median frame time plus 5 ms; the last picture within 0.2 s of the
# stream's last frame.
#
# Usage: bench/stream_latency.sh [BUILD_FOLDER [WIDTHxHEIGHT [FPS]]]   (default build 1920x1080 120)
#        KEEP=1 bench/stream_latency.sh   # the videos, logs and CSVs left in a folder it names
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
size=${2:-1920x1080}
fps=${3:-120}
width=${size%x*} height=${size#*x}
out=$(mktemp -d)
server=
trap '[[ -n $server ]] && kill "$server" 2>/dev/null; [[ -n ${KEEP:-} ]] || rm -rf "$out"' EXIT

# The video: 600 frames, the index in 12 bits as black squares on a white strip.
# Squares of side min(48, width / 16), 7/6 of that apart (frame_age_report reads them so).
side=$((width / 16 < 48 ? width / 16 : 48))
stride=$((side * 7 / 6)) corner=$((side / 3))
boxes="drawbox=x=0:y=0:w=$((12 * stride + 2 * corner)):h=$((side + 2 * corner)):color=white:t=fill"
for k in $(seq 0 11); do
  boxes+=",drawbox=x=$((corner + stride * k)):y=$corner:w=$side:h=$side:color=black:t=fill"
  boxes+=":enable='eq(mod(floor(n/$((1 << k))),2),1)'"
done
ffmpeg -v error -i "$build/bin/board.avi" -i "$build/bin/board.avi" \
  -filter_complex "[0:v][1:v]concat=n=2:v=1,scale=$width:$height,setpts=N/$fps/TB,$boxes" \
  -r "$fps" -c:v mjpeg -q:v 4 -an "$out/stream.avi"
frames=$(ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames -of csv=p=0 "$out/stream.avi")

# listening PORT: true once a socket listens on the port (no ss or netstat needed).
listening() { grep -qi ":$(printf '%04X' "$1") 00000000:0000 0A" /proc/net/tcp; }

# run LABEL [ARRENDER_OPTIONS...]: one stream, one arrender, one line.
run() {
  local label=$1 port=$((20000 + RANDOM % 20000))
  shift
  ffmpeg -v error -re -i "$out/stream.avi" -c copy -f mpjpeg -listen 1 "http://127.0.0.1:$port/cam.mjpg" &
  server=$!
  for _ in $(seq 100); do listening "$port" && break; sleep 0.05; done
  (cd "$build/bin" && ./arrender "http://127.0.0.1:$port/cam.mjpg" -o "$out/$label.avi" \
     --frame-ages "$out/$label.csv" "$@" 2>"$out/$label.log") || { cat "$out/$label.log" >&2; exit 1; }
  wait "$server" 2>/dev/null || true
  server=
  "$build/bin/frame_age_report" "$label" "$out/$label.csv" "$out/$label.avi" "$fps" "$frames"
}

[[ -n ${KEEP:-} ]] && echo "outputs kept in $out"
echo "== $frames frames of $width x $height at $fps fps over http://127.0.0.1, MJPEG"
run newest
run every-frame --every-frame
