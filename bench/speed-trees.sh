# Sourced by the speed scripts of bench/: makes the source trees they time, once, under
# $dir/trees-$scale (dir and scale set by the caller):
#   large    1 GiB in 8 files, half random bytes, half word text
#   small    50,000 files of 512 bytes to 8 KiB in 250 folders, half text, half random
#   headers  three copies of /usr/include
# WM_SPEED_SCALE divides the sizes for a quick run.
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
  python3 - "$trees/small" "$dir/words" $(( 50000 / scale )) <<'PY'
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
PY
  for i in $(seq 1 $(( scale > 1 ? 1 : 3 ))); do cp -a /usr/include "$trees/headers/copy-$i"; done
  touch "$trees/ready"
}
