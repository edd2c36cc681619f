#!/usr/bin/env bash
# Configures and builds one flavour: release (default), tsan or asan, each with the test
# suite; station builds only the station and the simulator.
# Usage: scripts/build.sh [release|tsan|asan|station] [extra cmake args...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
flavour=${1:-release}
shift || true
args=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo)
case "$flavour" in
  release) ;;
  tsan) args+=(-DHYDRIX_SANITIZE=thread) ;;
  asan) args+=(-DHYDRIX_SANITIZE=address) ;;
  station) args=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DHYDRIX_TESTS=OFF) ;;
  *) echo "build: unknown flavour $flavour" >&2; exit 2 ;;
esac
[ "${CI:-}" = "true" ] && args+=(-DHYDRIX_WERROR=ON)
cmake -S "$root" -B "$root/build/$flavour" "${args[@]}" "$@" >/dev/null
cmake --build "$root/build/$flavour" -j "$(nproc)"
