#!/usr/bin/env bash
# Times storing a backup (wm-test-backup) and restoring it (wmrestore --headless-restore)
# against `cp -a` of the same trees (bench/speed-trees.sh), in the same run.
# Each step runs WM_SPEED_RUNS times (default 3); the median wall time is printed with its
# ratio to the median of `cp -a`, and the largest peak memory (resident) of the step.
# Dirty pages are flushed (sync) before every timed step.
#
#   bench/compare-with-cp.sh <build> [<baseline build>]
#
# <build> is a build folder (tools/wm-test-backup/wm-test-backup and src/app/wmrestore
# inside); a second build folder is timed the same way in the same run, for before/after
# figures. WM_SPEED_DIR (default /tmp/wm-speed) holds the trees; WM_SPEED_SCALE (default 1)
# divides the sizes for a quick run; WM_SPEED_TREES (default "large small headers") picks
# the trees. Everything but the source trees is removed at the end.
set -euo pipefail

builds=("$@")
[ ${#builds[@]} -ge 1 ] || { echo "usage: $0 <build> [<baseline build>]" >&2; exit 2; }
dir=${WM_SPEED_DIR:-/tmp/wm-speed}
runs=${WM_SPEED_RUNS:-3}
scale=${WM_SPEED_SCALE:-1}
mkdir -p "$dir"

. "$(dirname "$0")/speed-trees.sh"

# Runs a command with the page cache's dirty pages flushed first; appends "seconds kilobytes".
timed() {
  local out=$1; shift
  sync
  /usr/bin/time -f '%e %M' -o "$out.one" "$@" > /dev/null 2>&1
  cat "$out.one" >> "$out"
}

median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
largest() { sort -n | tail -1; }

make_trees
work=$dir/work
rm -rf "$work"; mkdir -p "$work"
printf '%-8s %-10s %-8s %9s %8s %9s\n' tree step build seconds "x cp -a" "peak MB"
for tree in ${WM_SPEED_TREES:-large small headers}; do
  source=$dir/trees-$scale/$tree
  for run in $(seq "$runs"); do
    timed "$work/cp" cp -a "$source" "$work/copy"
    rm -rf "$work/copy"
  done
  cp_time=$(cut -d' ' -f1 "$work/cp" | median)
  printf '%-8s %-10s %-8s %9.2f %8s %9s\n' "$tree" "cp -a" - "$cp_time" 1.00 -
  rm -f "$work/cp"
  # The builds take turns, so a change in the machine's load weighs on each alike.
  for run in $(seq "$runs"); do
    for b in "${!builds[@]}"; do
      repo=$work/repo
      timed "$work/store-$b" "${builds[$b]}/tools/wm-test-backup/wm-test-backup" "$source" "$repo" \
        --recovery-key-file "$work/key"
      timed "$work/restore-$b" "${builds[$b]}/src/app/wmrestore" --headless-restore "$repo" "$work/restored" "$work/key"
      rm -rf "$work/restored" "$repo" "$work/key"
    done
  done
  for b in "${!builds[@]}"; do
    name=$([ "$b" = 0 ] && echo build || echo baseline)
    for step in store restore; do
      t=$(cut -d' ' -f1 "$work/$step-$b" | median)
      m=$(cut -d' ' -f2 "$work/$step-$b" | largest)
      printf '%-8s %-10s %-8s %9.2f %8.2f %9d\n' "$tree" "$step" "$name" "$t" "$(echo "$t / $cp_time" | bc -l)" $(( m / 1024 ))
      rm -f "$work/$step-$b"
    done
  done
done
rm -rf "$work"
