#!/usr/bin/env bash
# Installs what kestrav needs, builds it with its tests, and runs every test.
#   bash scripts/test.sh [extra cmake options, e.g. -DKESTRAV_SANITIZE=ON]
# The build goes to build/ unless KESTRAV_BUILD_DIR names another folder.
# With -DKESTRAV_TSAN=ON (ThreadSanitizer) the build goes to build-tsan/ by
# default, and only the tests that convert or write on several threads are
# built and run.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
tsan=false
for option in "$@"; do
  [ "$option" = -DKESTRAV_TSAN=ON ] && tsan=true
done
if $tsan; then
  build=${KESTRAV_BUILD_DIR:-$root/build-tsan}
else
  build=${KESTRAV_BUILD_DIR:-$root/build}
fi
jobs=${KESTRAV_JOBS:-$(nproc)}
cd "$root"

bash scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DKESTRAV_TESTS=ON "$@" >/dev/null
if $tsan; then
  # The programs of the threaded tests: CTest lists the others as not built,
  # and the pattern below leaves them out.
  cmake --build "$build" -j "$jobs" --target kestrav kestrav_e2e block_pipeline_test scene_output_test binary_output_test \
    parallel_build_test scene_write_action_test
else
  cmake --build "$build" -j "$jobs"
fi

# Only read by sanitizer builds: memory that libraries keep until exit.
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
if $tsan; then
  # A race ends the process with status 66 and its report on standard error,
  # which every one of these tests checks.
  export TSAN_OPTIONS="halt_on_error=1 exitcode=66"
  threaded='BlockPipeline|SceneOutput|SceneWriteAction|ParallelBuild|ThreadsE2e|InterruptionE2e|OutputFailureE2e'
  ctest --test-dir "$build" --output-on-failure -j "$jobs" -R "$threaded"
else
  ctest --test-dir "$build" --output-on-failure -j "$jobs"
fi
