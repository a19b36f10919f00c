#!/usr/bin/env bash
# Configures and builds the project into build/ (or $WM_BUILD_DIR).
# Extra arguments go to cmake, e.g. -DWM_WERROR=ON.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${WM_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$build" -j "$(nproc)"
