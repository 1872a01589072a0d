#!/usr/bin/env bash
# Every figure of the board search's benchmark table in one run: renders the
# sample video at 1280 x 720 and 1920 x 1080 (once, kept in
# BUILD/bench-videos), compares the bounded search with the library's
# full-resolution one on the three sizes and on frames without a board (on
# two threads, then on one for the quiet-machine estimate), and runs arrender
# without output RUNS times on each size (default 3), summarising its frame
# and tracking-stage times: the best frames per second, and percentiles of
# each frame's smallest time over the runs (which drops most of what other
# programs take on a shared machine). Given a second build folder (the code
# before the bounded search), its arrender runs on the same videos for the
# "before" lines.
#
# Usage: [RUNS=N] bench/detector_bench.sh [BUILD_FOLDER [BEFORE_BUILD_FOLDER]]   (default build)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
before=""
if [ $# -ge 2 ]; then before=$(cd "$2" && pwd); fi
export OPENCV_LOG_LEVEL=ERROR
videos="$build/bench-videos"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$videos"
for size in 1280x720 1920x1080; do
    if [ ! -f "$videos/board_$size.avi" ]; then
        echo "rendering the sample video at $size ..."
        "$build/bin/make_board_video" --width "${size%x*}" --height "${size#*x}" --samples 1 \
            -o "$videos/board_$size.avi" > /dev/null
    fi
done
all=("$build/bin/board.avi" "$videos/board_1280x720.avi" "$videos/board_1920x1080.avi")

echo "== detector_bench: library vs bounded search (OpenCV on its default threads)"
"$build/bin/detector_bench" "${all[@]}" --noise
echo
echo "== detector_bench on one thread: the cpu columns estimate a quiet machine"
"$build/bin/detector_bench" --threads 1 --no-reference "${all[@]}" --noise

# arrender without output on one video, RUNS times: the best frames per
# second, the frame time (ms_frame of --poses, or the sum of its stage
# columns for builds without it) and the tracking stage, then the last run's
# stage summary. Options after the video go to arrender.
run_arrender() {
    local label=$1 folder=$2 video=$3 best=0 run fps
    shift 3
    for run in $(seq "${RUNS:-3}"); do
        (cd "$folder/bin" && ./arrender "$video" "$@" --poses "$scratch/poses$run.csv" 2> "$scratch/stderr") || {
            echo "arrender failed:"; cat "$scratch/stderr"; return 1; }
        fps=$(grep -o '[0-9.]* frames per second' "$scratch/stderr" | cut -d' ' -f1)
        best=$(echo "$fps $best" | awk '{print ($1 > $2) ? $1 : $2}')
    done
    printf '%-13s %-16s %6.1f fps | %s\n' "$label" "$(basename "$video" .avi)" "$best" \
        "$("$build/bin/detector_bench" --frame-times "$scratch"/poses*.csv)"
    grep -E '^(acquire|track|convert|video|ship|whole frame) ' "$scratch/stderr" | sed 's/^/          /'
    rm -f "$scratch"/poses*.csv
}

echo
echo "== arrender, no output, ${RUNS:-3} runs each (stage means and p95 in ms of the last run below each line)"
for video in "${all[@]}"; do
    if [ -n "$before" ]; then run_arrender before "$before" "$video"; fi
    run_arrender after "$build" "$video"
    run_arrender after,--track "$build" "$video" --track
done
