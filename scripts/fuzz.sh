#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while.
#   ./scripts/fuzz.sh [seconds-per-target] [target-name-pattern]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
pattern=${2:-}
build=${WM_FUZZ_BUILD_DIR:-$root/build-fuzz}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DWM_BUILD_FUZZ=ON -DWM_BUILD_APP=OFF -DWM_BUILD_TESTS=OFF -DWM_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
status=0
for target in "$build"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  [ -n "$pattern" ] && [[ "$name" != *$pattern* ]] && continue
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  echo "== $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -rss_limit_mb=2048 "$corpus" 2>&1 | tail -n 3 || status=1
done
exit $status
