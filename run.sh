#!/usr/bin/env bash
# Builds the project on a fresh machine and runs it. Until the viewer exists
# this runs the calibration benchmark.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
exec build/bin/calibration_bench "$@"
