#!/usr/bin/env bash
# Installs what kestrav needs, builds it with its tests, and runs every test.
#   bash scripts/test.sh [extra cmake options, e.g. -DKESTRAV_SANITIZE=ON]
# The build goes to build/ unless KESTRAV_BUILD_DIR names another folder.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${KESTRAV_BUILD_DIR:-$root/build}
jobs=${KESTRAV_JOBS:-$(nproc)}
cd "$root"

bash scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DKESTRAV_TESTS=ON "$@" >/dev/null
cmake --build "$build" -j "$jobs"

# Only read by sanitizer builds: memory that libraries keep until exit.
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
ctest --test-dir "$build" --output-on-failure -j "$jobs"
