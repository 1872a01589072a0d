#!/usr/bin/env bash
# The overlay's look and its cost: arrender's frames per second with each of
# --shadows, --light auto and --antialias alone and all three, on a 1920 x
# 1080 board video with a textured torus of 10,000 triangles, and on the
# 640 x 480 sample video with the 100,000-triangle torus. Each figure is the
# median of RUNS runs (default 3), all in the same invocation.
#
# Usage: bench/overlay_look_bench.sh [BUILD_FOLDER] [RUNS]   (default build 3)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
runs=${2:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bin="$build/bin"
"$bin/make_board_video" --width 1920 --height 1080 --frames 120 -o "$work/hd.avi" >/dev/null 2>&1
"$bin/model_bench" --write "$work/t10k" --triangles 10000
"$bin/model_bench" --write "$work/t100k"

# Median frames per second of arrender's summary line over the runs.
fps() {
    local video=$1 model=$2
    shift 2
    for _ in $(seq "$runs"); do
        (cd "$bin" && ./arrender "$video" --model "$model" "$@" 2>&1 >/dev/null) |
            sed -n 's/.* \([0-9.]*\) frames per second.*/\1/p' | tail -1
    done | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'
}

row() {
    local label=$1 video=$2 model=$3
    shift 3
    printf '| %s | %s |\n' "$label" "$(fps "$video" "$model" "$@")"
}

echo "1920 x 1080, torus of 10,000 triangles (frames per second, median of $runs)"
echo "| options | frames per second |"
echo "|---|---|"
row "none" "$work/hd.avi" "$work/t10k/torus.obj"
row "--shadows" "$work/hd.avi" "$work/t10k/torus.obj" --shadows
row "--light auto" "$work/hd.avi" "$work/t10k/torus.obj" --light auto
row "--antialias" "$work/hd.avi" "$work/t10k/torus.obj" --antialias
row "all three" "$work/hd.avi" "$work/t10k/torus.obj" --shadows --light auto --antialias
echo
echo "640 x 480 sample video, torus of 100,000 triangles"
echo "| options | frames per second |"
echo "|---|---|"
row "none" "$bin/board.avi" "$work/t100k/torus.obj"
row "all three" "$bin/board.avi" "$work/t100k/torus.obj" --shadows --light auto --antialias
