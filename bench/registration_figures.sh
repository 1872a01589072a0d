#!/usr/bin/env bash
# Every registration figure of the README in one run: arrender on the sample
# video with each pose option, and on a sweep rendered through a distorted
# lens (1280 x 720, k1 -0.3, k2 0.1, principal point 10 px off centre) with
# its true camera file, with the camera file arcalibrate makes from the
# sweep, and self-calibrating; pose_error measures each against the truth.
# None of these figures depends on the machine's speed.
#
# Usage: bench/registration_figures.sh [BUILD_FOLDER]   (default build)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
bin="$build/bin"
export OPENCV_LOG_LEVEL=ERROR
work="$build/bench-videos"
mkdir -p "$work"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$bin"

figures() {  # POSES TRUTH [pose_error options]: the table's lines that matter
    ./pose_error "$@" | grep -E "frames|measured|corners, mean|rotation|translation|focal|covered|jitter"
}

echo "== sample video, 640 x 480: each pose option"
for options in "" "--refine" "--smooth" "--refine --smooth" "--track"; do
    echo "-- arrender board.avi $options"
    # shellcheck disable=SC2086
    ./arrender board.avi $options --poses "$scratch/poses.csv" 2> /dev/null
    figures "$scratch/poses.csv" board_truth.csv
done

sweep="$work/sweep720"
if [ ! -f "$sweep.avi" ]; then
    echo "rendering the distorted sweep ..."
    ./make_board_video --path sweep --width 1280 --height 720 --distortion -0.3,0.1,0.001,-0.001,0 \
        --principal-point 650,372 -o "$sweep.avi" > /dev/null
fi

echo
echo "== distorted sweep, 1280 x 720"
echo "-- without a lens model"
./arrender "$sweep.avi" --poses "$scratch/plain.csv" 2> /dev/null
figures "$scratch/plain.csv" "${sweep}_truth.csv"
echo "-- --camera with the true camera file"
./arrender "$sweep.avi" --camera "${sweep}_camera.yml" --poses "$scratch/true.csv" 2> /dev/null
figures "$scratch/true.csv" "${sweep}_truth.csv" --camera "${sweep}_camera.yml"
echo "-- --camera with arcalibrate's file"
./arcalibrate "$sweep.avi" -o "$scratch/arcalibrate.yml" > "$scratch/arcalibrate.txt" 2> /dev/null
grep -E "RMS|fx|cx" "$scratch/arcalibrate.txt" | head -4
./arrender "$sweep.avi" --camera "$scratch/arcalibrate.yml" --poses "$scratch/calibrated.csv" 2> /dev/null
figures "$scratch/calibrated.csv" "${sweep}_truth.csv" --camera "$scratch/arcalibrate.yml"
echo "-- --self-calibrate"
./arrender "$sweep.avi" --self-calibrate --save-camera "$scratch/self.yml" --poses "$scratch/self.csv" 2>&1 |
    grep -a "self-calibration"
figures "$scratch/self.csv" "${sweep}_truth.csv" --camera "$scratch/self.yml"
