#!/usr/bin/env bash
# Installs what the project needs, builds everything with warnings as errors and runs
# every test; then builds once more with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs the test suite again under them. Exits non-zero when anything fails.
# Run as root on Debian 12. WM_SKIP_SANITIZE=1 leaves out the second build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
# The code keeps the style of .clang-format; a file that drifts fails the run.
"$root/scripts/check-format.sh"
export QT_QPA_PLATFORM=offscreen
export WM_BUILD_DIR=${WM_BUILD_DIR:-$root/build-ci}
"$root/scripts/build.sh" -DWM_WERROR=ON -DWM_BUILD_TESTS=ON -DWM_BUILD_BENCH=ON -DWM_BUILD_APP=ON
ctest --test-dir "$WM_BUILD_DIR" --output-on-failure -j "$(nproc)" --timeout 600
# The end-to-end job is a test too: back up a sample folder, restore it, compare.
"$root/scripts/main-job.sh" --no-install

if [ "${WM_SKIP_SANITIZE:-0}" != 1 ]; then
  sanitized=${WM_SANITIZE_BUILD_DIR:-$root/build-asan}
  WM_BUILD_DIR=$sanitized "$root/scripts/build.sh" -DWM_SANITIZE=ON -DWM_BUILD_TESTS=ON \
    -DWM_BUILD_BENCH=OFF -DWM_BUILD_APP=ON
  # Qt and fontconfig keep allocations for the life of the process; leaks are not checked.
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$sanitized" --output-on-failure -j "$(nproc)" --timeout 1200
fi
