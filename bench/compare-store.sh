#!/usr/bin/env bash
# Times storing a first backup with wm-test-backup of two builds that take turns run by run,
# so that a change in the machine's load weighs on both alike, over the trees of
# bench/speed-trees.sh (large, small, headers). For each tree and build: the median wall
# time, the speed it makes of the tree's bytes, the median CPU use (100% = one core busy)
# and the largest peak resident memory; then the build's time as a ratio to the baseline's,
# the median of the ratios of each turn (the figure to quote on a shared machine).
#
#   bench/compare-store.sh <build> <baseline build>
#
# A build folder holds tools/wm-test-backup/wm-test-backup. WM_SPEED_RUNS (default 3) turns;
# WM_SPEED_CPUS runs both under `taskset -c` with that CPU list (say 0 for one core);
# WM_SPEED_DIR (default /tmp/wm-speed), WM_SPEED_SCALE and WM_SPEED_TREES as for
# bench/compare-with-cp.sh. Dirty pages are flushed (sync) before every timed run.
set -euo pipefail

[ $# -eq 2 ] || { echo "usage: $0 <build> <baseline build>" >&2; exit 2; }
builds=("$1" "$2")
dir=${WM_SPEED_DIR:-/tmp/wm-speed}
runs=${WM_SPEED_RUNS:-3}
scale=${WM_SPEED_SCALE:-1}
pin=()
[ -n "${WM_SPEED_CPUS:-}" ] && pin=(taskset -c "$WM_SPEED_CPUS")
mkdir -p "$dir"

. "$(dirname "$0")/speed-trees.sh"

median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

make_trees
work=$dir/store-work
rm -rf "$work"; mkdir -p "$work"
printf '%-8s %-8s %8s %8s %6s %8s %14s\n' tree build seconds "MB/s" "CPU %" "peak MB" "x baseline"
for tree in ${WM_SPEED_TREES:-large small headers}; do
  source=$dir/trees-$scale/$tree
  bytes=$(du -sb "$source" | cut -f1)
  for run in $(seq "$runs"); do
    for b in 0 1; do
      sync
      # seconds, CPU % and peak resident kilobytes of one run
      /usr/bin/time -f '%e %P %M' -o "$work/one" "${pin[@]}" "${builds[$b]}/tools/wm-test-backup/wm-test-backup" \
        "$source" "$work/repo" --recovery-key-file "$work/key" > /dev/null
      tr -d '%' < "$work/one" >> "$work/runs-$b"
      rm -rf "$work/repo" "$work/key"
    done
  done
  paste -d' ' "$work/runs-0" "$work/runs-1" | awk '{print $1 / $4}' > "$work/ratios"
  for b in 0 1; do
    t=$(cut -d' ' -f1 "$work/runs-$b" | median)
    cpu=$(cut -d' ' -f2 "$work/runs-$b" | median)
    peak=$(cut -d' ' -f3 "$work/runs-$b" | sort -n | tail -1)
    if [ "$b" = 0 ]; then
      ratio=$(printf '%.2f (%.2f)' "$(median < "$work/ratios")" "$(echo "$t / $(cut -d' ' -f1 "$work/runs-1" | median)" | bc -l)")
    else
      ratio=1
    fi
    printf '%-8s %-8s %8.2f %8.1f %6d %8d %14s\n' "$tree" "$([ "$b" = 0 ] && echo build || echo baseline)" "$t" \
      "$(echo "$bytes / 1000000 / $t" | bc -l)" "$cpu" $(( peak / 1024 )) "$ratio"
  done
  rm -f "$work"/runs-* "$work/ratios"
done
rm -rf "$work"
