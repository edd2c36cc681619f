#!/usr/bin/env bash
# Configures and builds one flavour: release (default), tsan or asan.
# Usage: scripts/build.sh [release|tsan|asan] [extra cmake args...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
flavour=${1:-release}
shift || true
args=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo)
case "$flavour" in
  release) ;;
  tsan) args+=(-DHYDRIX_SANITIZE=thread) ;;
  asan) args+=(-DHYDRIX_SANITIZE=address) ;;
  *) echo "build: unknown flavour $flavour" >&2; exit 2 ;;
esac
[ "${CI:-}" = "true" ] && args+=(-DHYDRIX_WERROR=ON)
cmake -S "$root" -B "$root/build/$flavour" "${args[@]}" "$@" >/dev/null
cmake --build "$root/build/$flavour" -j "$(nproc)"
