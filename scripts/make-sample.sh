#!/usr/bin/env bash
# Makes a small sample folder with the kinds of entries a restore must bring back.
set -euo pipefail
s=$1
mkdir -p "$s/Documents/Reports 2026" "$s/Photos/Été" "$s/empty folder"
printf 'Quarterly figures\n' > "$s/Documents/Reports 2026/q4.txt"
for i in $(seq 1 200); do echo "line $i of a longer text file that compresses well"; done > "$s/Documents/notes.md"
head -c 3000000 /dev/urandom > "$s/Photos/Été/photo-001.raw"
printf 'Grüße aus Köln\n' > "$s/Photos/Été/légende – ñ.txt"
# A sparse file: 8 MiB with two small data regions.
truncate -s 8M "$s/Documents/disk.img"
printf 'start' | dd of="$s/Documents/disk.img" conv=notrunc status=none
printf 'middle' | dd of="$s/Documents/disk.img" bs=1 seek=4194304 conv=notrunc status=none
ln -s "Reports 2026/q4.txt" "$s/Documents/latest-report"
ln "$s/Documents/notes.md" "$s/Photos/notes-hardlink.md"
setfattr -n user.comment -v "kept with the file" "$s/Documents/notes.md" 2>/dev/null || true
chmod 640 "$s/Documents/Reports 2026/q4.txt"
touch -d '2024-02-29 12:34:56' "$s/Photos/Été/légende – ñ.txt"
