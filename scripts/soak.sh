#!/usr/bin/env bash
# Soak: the station against the simulator flooding the line for SECONDS (default 600)
# with the capture on; prints the bytes sent, resident size at start and end and the
# GUI thread's longest pause, and fails when bytes are lost or memory grows.
#   scripts/soak.sh [SECONDS] [BUILD_DIR]
set -euo pipefail
seconds=${1:-600}
build=${2:-$(cd "$(dirname "$0")/.." && pwd)/build/release}
test_bin=$build/tests/robust/test_robust
if [[ ! -x $test_bin ]]; then
    echo "soak: $test_bin not built (ninja -C $build test_robust adcp-sim)" >&2
    exit 2
fi
HYDRIX_SOAK_SECONDS=$seconds exec "$test_bin" --gtest_filter=Flood.Soak
