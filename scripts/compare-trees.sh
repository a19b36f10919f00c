#!/usr/bin/env bash
# Compares two trees: entry kinds, content, modes, modification times, symbolic-link
# targets, hard links, extended attributes in the user namespace and sparse holes.
# Prints each difference and exits 1 when there is any.
set -uo pipefail
a=$1 b=$2
status=0
fail() { echo "difference: $*"; status=1; }
describe() {  # relative path listing with kind, mode, mtime, size, link target
  (cd "$1" && find . -mindepth 1 -printf '%P\t%y\t%m\t%T@\t%s\t%l\n' | LC_ALL=C sort) |
    awk -F'\t' 'BEGIN{OFS="\t"} { if ($2=="d") $5="-"; if ($2=="l") $4="-"; split($4, t, "."); $4=t[1]; print }'
}
diff <(describe "$a") <(describe "$b") > /tmp/wm-compare.$$ || { fail "listings differ:"; cat /tmp/wm-compare.$$; }
rm -f /tmp/wm-compare.$$
while IFS= read -r -d '' f; do
  rel=${f#"$a"/}
  [ -f "$b/$rel" ] && ! [ -L "$a/$rel" ] || continue
  cmp -s "$a/$rel" "$b/$rel" || fail "content of $rel"
  xa=$(getfattr -d -m '^user\.' --absolute-names "$a/$rel" 2>/dev/null | tail -n +2)
  xb=$(getfattr -d -m '^user\.' --absolute-names "$b/$rel" 2>/dev/null | tail -n +2)
  [ "$xa" = "$xb" ] || fail "extended attributes of $rel"
  ba=$(stat -c %b "$a/$rel"); bb=$(stat -c %b "$b/$rel")
  [ "$bb" -le $((ba + 64)) ] || fail "holes of $rel not kept ($ba vs $bb blocks)"
done < <(find "$a" -type f -print0)
# Hard links: files that share an inode in a share one in b.
links() { (cd "$1" && find . -type f -links +1 -printf '%i %P\n' | sort | awk '{g[$1]=g[$1] " " $2} END{for (k in g) print g[k]}' | sort); }
[ "$(links "$a")" = "$(links "$b")" ] || fail "hard-link groups differ"
exit $status
