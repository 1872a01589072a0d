#!/usr/bin/env bash
# Runs every test on a fresh machine: installs what is missing, builds, runs
# the suite, then builds and runs it again under AddressSanitizer and
# UndefinedBehaviorSanitizer (any report fails the run), then fuzzes the asset
# decoders for a short while.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DARVIEWER_SANITIZE=ON -DARVIEWER_BUILD_BENCH=OFF
cmake --build build-sanitize -j"$jobs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir build-sanitize --output-on-failure -j"$jobs"

# Fuzz the asset decoders for 20 s each (clang, libFuzzer); any crash fails.
tests/fuzz/run.sh 20
echo "test.sh: all tests passed"
