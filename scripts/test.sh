#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite.
# Usage: scripts/test.sh [release|tsan|asan]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
flavour=${1:-release}
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$flavour"
export QT_QPA_PLATFORM=offscreen
case "$flavour" in
  tsan) export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ;;
  asan) export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" ;;
esac
cd "$root/build/$flavour"
# The long soak has a step of its own (scripts/soak.sh, and CI).
ctest --output-on-failure -j "$(nproc)" --timeout 300 --label-exclude soak
