#!/usr/bin/env bash
# Fails when a C++ file of the project differs from .clang-format; with --fix, formats them.
# Fails too, in both modes, when an include climbs with ".." or starts at "/".
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
status=0
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
else
  clang-format --dry-run -Werror "${files[@]}" || status=1
fi

# Each library reaches only the include folders of what it links (wm_public_headers in
# cmake/WendleMarsh.cmake); a spelling that climbs out of a folder, or an absolute one, would
# reach any header of the tree.
mapfile -t sources < <(git ls-files 'src/*' 'tests/*' 'tools/*' 'bench/*' 'fuzz/*' | grep -E '\.(cpp|h|h\.in)$')
if climbing=$(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<](/|([^">]*/)?\.\.[/">])' \
  "${sources[@]}"); then
  printf '%s\n' "$climbing" >&2
  echo "These includes climb out of the include folders with \"..\" or start at \"/\": name each header from the folder of the library that holds it." >&2
  status=1
fi
exit "$status"
