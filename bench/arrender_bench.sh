#!/usr/bin/env bash
# The viewer's whole frame loop on the sample video, offscreen (arrender in
# Mesa's software renderer): frames per second and milliseconds per stage,
# without output, then writing the MJPG video.
#
# Usage: bench/arrender_bench.sh [BUILD_FOLDER]   (default build)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cd "$build/bin"
echo "== arrender board.avi (no output)"
./arrender board.avi 2>&1 | grep -v '^arrender: frame '
echo
echo "== arrender board.avi -o out.avi"
./arrender board.avi -o "$out/out.avi" 2>&1 | grep -v '^arrender: frame '
