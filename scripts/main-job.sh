#!/usr/bin/env bash
# The main job, end to end: install, build, make a sample folder, back it up with the
# test-backup tool under a passphrase, restore it with `wmrestore --headless-restore`
# into a new folder, and compare the two trees. Run as root on Debian 12.
#   --no-install   skip the package installation and reuse an existing build
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
install=1
[ "${1:-}" = "--no-install" ] && install=0
if [ "$install" = 1 ]; then
  "$root/scripts/install-deps.sh"
  export WM_BUILD_DIR=${WM_BUILD_DIR:-$root/build}
  "$root/scripts/build.sh" -DWM_BUILD_TESTS=OFF -DWM_BUILD_BENCH=OFF
else
  export WM_BUILD_DIR=${WM_BUILD_DIR:-$root/build-ci}
fi
build=$WM_BUILD_DIR
wmrestore="$build/src/app/wmrestore"
backup_tool="$build/tools/wm-test-backup/wm-test-backup"

"$wmrestore" --self-check

work=$(mktemp -d /tmp/wm-main-job.XXXXXX)
trap 'rm -rf "$work"' EXIT
sample="$work/sample"
"$root/scripts/make-sample.sh" "$sample"

printf 'correct horse battery staple\n' > "$work/passphrase.txt"
echo "backing up $sample"
"$backup_tool" "$sample" "$work/backup" --passphrase-file "$work/passphrase.txt" \
  --recovery-key-file "$work/recovery-key.txt" --iterations 20000

echo "restoring into $work/restored"
"$wmrestore" --headless-restore "$work/backup" "$work/restored" "$work/passphrase.txt"

"$root/scripts/compare-trees.sh" "$sample" "$work/restored"
echo "main job: the restored folder matches the sample"
