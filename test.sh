#!/usr/bin/env bash
# Runs every test on a fresh machine: installs what is missing, builds, runs
# the suite, then builds and runs it again under AddressSanitizer and
# UndefinedBehaviorSanitizer (any report fails the run), then the threaded
# modules' tests under ThreadSanitizer, then fuzzes the file readers for a
# short while.
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

# The threaded modules under ThreadSanitizer: the frame reader, the
# self-calibration worker, the refinements and the lens calibration on
# several threads. Any report fails; nothing is suppressed.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DARVIEWER_TSAN=ON -DARVIEWER_BUILD_BENCH=OFF
cmake --build build-tsan -j"$jobs" --target board_video tracking_tests self_calibration_worker_tests \
    calibration_tests lens_calibration_tests
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
build-tsan/bin/tracking_tests --gtest_filter='FrameReader.*'
build-tsan/bin/self_calibration_worker_tests
build-tsan/bin/calibration_tests --gtest_filter='*Thread*:SyntheticGrid.SafeOnSeveralThreadsAtOnce'
build-tsan/bin/lens_calibration_tests --gtest_filter='*Thread*'
unset TSAN_OPTIONS

# Fuzz the file readers for 20 s each (clang, libFuzzer); any crash fails.
tests/fuzz/run.sh 20
echo "test.sh: all tests passed"
