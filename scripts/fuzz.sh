#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while, starting from its seed
# corpus in fuzz/corpus/<target>/. New inputs go to build-fuzz/corpus/<target>/; with --save,
# those that reach code the seeds do not are merged into the seed corpus afterwards.
#   ./scripts/fuzz.sh [--save] [seconds-per-target] [target-name-pattern]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
save=0
if [ "${1:-}" = "--save" ]; then
  save=1
  shift
fi
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
  name=${name#fuzz_}
  [ -n "$pattern" ] && [[ "$name" != *$pattern* ]] && continue
  seeds="$root/fuzz/corpus/$name"
  finds="$build/corpus/$name"
  mkdir -p "$finds"
  echo "== $name for ${seconds}s"
  # libFuzzer writes what it finds to the first folder and reads all of them.
  "$target" -max_total_time="$seconds" -rss_limit_mb=2048 "$finds" "$seeds" 2>&1 | tail -n 3 || status=1
  if [ "$save" = 1 ]; then
    "$target" -merge=1 -rss_limit_mb=2048 "$seeds" "$finds" 2>&1 | tail -n 1 || status=1
  fi
done
exit $status
