#!/usr/bin/env bash
# Builds the fuzz targets of the asset decoders with clang (libFuzzer, ASan,
# UBSan) into build-fuzz and runs each for SECONDS (default 20) on its seed
# corpus: the hand-made seeds here and real .3ds and .bmp files from Debian's
# assimp-testmodels. Any crash, leak or failed check fails the run; the
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
    local seeds=("$root/tests/fuzz/seeds/$kind")
    for dir in "$@"; do [[ -d $dir ]] && seeds+=("$dir"); done
    local dict=()
    [[ -f $root/tests/fuzz/$kind.dict ]] && dict=(-dict="$root/tests/fuzz/$kind.dict")
    if ! "$build/$name" -max_total_time="$seconds" -close_fd_mask=3 -print_final_stats=1 \
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
run_target fuzz_3ds 3ds "$real_3ds"
run_target fuzz_bitmap bitmap "$real_bitmap"
