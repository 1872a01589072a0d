#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) into build-fuzz
# and runs each for SECONDS (default 20) on its seed corpus: the 3DS and BMP
# decoders, models read through the model reader program (the viewer's
# contained path), scene files and camera files. Seeds: the hand-made ones
# here, the project's own scenes, and real models from Debian's
# assimp-testmodels. An input that makes a target run out of memory (more
# than 2 GB) or time (30 s) fails the run like a crash. Any crash, leak or failed check fails the run; the
# reproducer is left in build-fuzz/artifacts/. New inputs that the fuzzer finds
# accumulate in build-fuzz/corpus/ and seed the next run.
#
# Usage:
#     tests/fuzz/run.sh            # 20 s per target, as test.sh runs it
#     nice tests/fuzz/run.sh 600   # ten minutes per target
set -euo pipefail
seconds=${1:-20}
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
real_models=/usr/share/assimp/models

cmake -S "$root/tests/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

# run_target NAME EXTRA_SEED_DIR... : fuzzes build/NAME, the writable corpus first.
run_target() {
    local name=$1 kind=$2
    shift 2
    local corpus=$build/corpus/$kind log=$build/$name.log
    mkdir -p "$corpus" "$build/artifacts"
    local seeds=()
    for dir in "$root/tests/fuzz/seeds/$kind" "$@"; do [[ -d $dir ]] && seeds+=("$dir"); done
    local dict=()
    [[ -f $root/tests/fuzz/$kind.dict ]] && dict=(-dict="$root/tests/fuzz/$kind.dict")
    if ! "$build/$name" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=30 -close_fd_mask=3 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$name-" "${dict[@]}" "$corpus" "${seeds[@]}" >"$log" 2>&1; then
        tail -n 60 "$log" >&2
        echo "fuzz: $name failed; reproducer in $build/artifacts/" >&2
        return 1
    fi
    local runs
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
    echo "fuzz: $name: $runs inputs in ${seconds} s, no crash"
}

# Real files are copied into a scratch folder: libFuzzer reads every file of a
# seed folder, and the model folders hold other formats too.
real_3ds=$build/real-seeds/3ds real_bitmap=$build/real-seeds/bitmap
mkdir -p "$real_3ds" "$real_bitmap"
if [[ -d $real_models ]]; then
    find "$real_models" -iname '*.3ds' -size -64k -exec cp -f {} "$real_3ds/" \;
    find "$real_models" -iname '*.bmp' -size -64k -exec cp -f {} "$real_bitmap/" \;
fi
# A model seed's first byte names its format, as fuzz_model reads it.
real_model=$build/real-seeds/model
mkdir -p "$real_model"
if [[ -d $real_models ]]; then
    index=0
    for ext in glb gltf obj ply dae fbx stl 3ds; do
        while IFS= read -r file; do
            { printf "\\$(printf '%03o' "$index")"; cat "$file"; } >"$real_model/$ext-$(basename "$file")"
        done < <(find "$real_models" -iname "*.$ext" -size -16k | sort | head -n 6)
        index=$((index + 1))
    done
fi
run_target fuzz_3ds 3ds "$real_3ds"
run_target fuzz_bitmap bitmap "$real_bitmap"
run_target fuzz_model model "$real_model"
run_target fuzz_scene scene "$root/scenes"
run_target fuzz_camera_file camera
