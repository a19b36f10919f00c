#!/usr/bin/env bash
# Times storing a backup (wm-test-backup) and restoring it (wmrestore --headless-restore)
# against `cp -a` of the same trees, in the same run:
#   large    1 GiB in 8 files, half random bytes, half word text
#   small    50,000 files of 512 bytes to 8 KiB in 250 folders, half text, half random
#   headers  three copies of /usr/include
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

make_trees() {
  local trees=$dir/trees-$scale
  [ -f "$trees/ready" ] && return
  rm -rf "$trees"
  mkdir -p "$trees/large" "$trees/small" "$trees/headers"
  local size=$(( (128 << 20) / scale ))
  # A vocabulary of a few thousand words, drawn with repetition.
  cat /usr/share/common-licenses/* | tr -cs 'A-Za-z' '\n' | sort -u > "$dir/words"
  for i in 0 1 2 3; do
    head -c "$size" /dev/urandom > "$trees/large/random-$i.bin"
    shuf -r --random-source=<(yes "$i") -n $(( size / 6 )) "$dir/words" | paste -d' ' - - - - - - - - |
      head -c "$size" > "$trees/large/text-$i.txt" || true  # the words outlast head
  done
  python3 - "$trees/small" "$dir/words" $(( 50000 / scale )) <<'EOF'
import os, random, sys
root, words, count = sys.argv[1], open(sys.argv[2]).read().split(), int(sys.argv[3])
rng = random.Random(7)
for i in range(count):
    folder = os.path.join(root, "folder-%d" % (i // 200))
    if i % 200 == 0: os.makedirs(folder)
    size = rng.randrange(512, 8192)
    if i % 2: data = rng.randbytes(size)
    else: data = " ".join(rng.choices(words, k=size // 5)).encode()[:size]
    with open(os.path.join(folder, "file-%d" % i), "wb") as f: f.write(data)
EOF
  for i in $(seq 1 $(( scale > 1 ? 1 : 3 ))); do cp -a /usr/include "$trees/headers/copy-$i"; done
  touch "$trees/ready"
}

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
