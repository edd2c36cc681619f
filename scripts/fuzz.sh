#!/usr/bin/env bash
# Builds the libFuzzer targets with clang++ (ASan + UBSan, assertions kept) and runs each for a number
# of seconds, growing a scratch corpus seeded from fuzz/corpus/<target>/.
# Usage: scripts/fuzz.sh [seconds per target, default 60] [target ...]
# Findings are written to build-fuzz/findings/<target>/; reproduce one with
#   build-fuzz/fuzz/fuzz_<target> FILE
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(trigger packet tty reg_file trace_log)
build=${HYDRIX_FUZZ_BUILD:-$root/build-fuzz}

"$root/scripts/setup.sh" clang libclang-rt-dev

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE= \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DHYDRIX_FUZZ=ON -DHYDRIX_BENCH=OFF >/dev/null
ninja -C "$build" -j "$(nproc)" "${targets[@]/#/fuzz_}"

status=0
for t in "${targets[@]}"; do
  work="$build/corpus/$t"
  findings="$build/findings/$t"
  mkdir -p "$work" "$findings"
  echo "== fuzz_$t for ${seconds}s"
  if ! "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
      -artifact_prefix="$findings/" -print_final_stats=1 "$work" "$root/fuzz/corpus/$t"; then
    echo "fuzz_$t: finding in $findings" >&2
    status=1
  fi
done
exit $status
