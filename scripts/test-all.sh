#!/usr/bin/env bash
# Installs what the project needs, builds everything with warnings as errors and runs
# every test. Exits non-zero when anything fails. Run as root on Debian 12.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
export WM_BUILD_DIR=${WM_BUILD_DIR:-$root/build-ci}
"$root/scripts/build.sh" -DWM_WERROR=ON -DWM_BUILD_TESTS=ON -DWM_BUILD_BENCH=ON -DWM_BUILD_APP=ON
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$WM_BUILD_DIR" --output-on-failure -j "$(nproc)" --timeout 600
# The end-to-end job is a test too: back up a sample folder, restore it, compare.
"$root/scripts/main-job.sh" --no-install
