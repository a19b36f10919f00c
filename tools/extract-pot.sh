#!/bin/sh
# Extracts the translatable sentences of every module into po/<domain>.pot.
# Each folder of src/ is one text domain ("wm-core", "wm-format", ...); the English
# text inside WM_L("...") is the message id.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
out=po
# The version is the project's, as CMakeLists.txt declares it.
version=$(sed -n 's/^project([^)]* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "extract-pot.sh: no version in CMakeLists.txt" >&2; exit 1; }
mkdir -p "$out"
for dir in src/*/; do
    module=$(basename "$dir")
    files=$(find "$dir" -name '*.cpp' -o -name '*.h' | sort)
    [ -n "$files" ] || continue
    # A sentence written once for several modules (WM_N) goes into the catalogue of every
    # module that includes the header defining it.
    for header in $(grep -rl 'WM_N(' src --include='*.h' | grep -v '^src/core/Localization.h$'); do
        case "$files" in *"$header"*) continue ;; esac
        if grep -rqF "#include \"${header#src/}\"" "$dir"; then files="$files $header"; fi
    done
    # shellcheck disable=SC2086
    xgettext --language=C++ --from-code=UTF-8 --keyword=WM_L --keyword=WM_N --add-comments=TRANSLATORS: \
        --package-name="Wendle Marsh Restore" --package-version="$version" \
        --sort-by-file --no-wrap --output="$out/wm-$module.pot" $files
    # xgettext writes nothing when a module has no sentences.
    if [ -f "$out/wm-$module.pot" ]; then echo "$out/wm-$module.pot"; fi
done
