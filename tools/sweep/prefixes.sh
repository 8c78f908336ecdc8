#!/usr/bin/env bash
# Every prefix of every corpus model, and of the bundled example, converts under
# AddressSanitizer and UBSan without a crash, a leak or a hang.
#
#   tools/sweep/prefixes.sh [STRIDE]
#
# Two passes over a sanitizer build (build-sweep-asan):
# 1. in-process, every prefix of every corpus model: the prefix test with its
#    size bound lifted (CTest runs it on the small models only). Leaks are
#    checked when the test program ends; each prefix must take under 5 s.
# 2. the real binary on every STRIDE-th prefix (default 40) of each corpus
#    model and of the bundled example, and on each whole model: exit status 0
#    or 1, no sanitizer report, at most 5 s each, and after status 0 a scene
#    that Coin reads back. A started binary costs about 0.3 s of CPU under the
#    sanitizers, so STRIDE=1 (every prefix, about 45,000 runs) takes hours.
set -euo pipefail

stride=${1:-40}
root=$(cd "$(dirname "$0")/../.." && pwd)
models=${KESTRAV_CORPUS:-$root/tests/data/corpus}
build=$root/build-sweep-asan
cmake -S "$root" -B "$build" -G Ninja -DKESTRAV_SANITIZE=ON -DKESTRAV_TESTS=ON >/dev/null
ninja -C "$build" -j2 kestrav prefix_test >/dev/null
# shellcheck source=tools/sweep/tools.sh
. "$root/tools/sweep/tools.sh"

export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="exitcode=86:symbolize=0"
export UBSAN_OPTIONS="exitcode=87:print_stacktrace=1"
export KESTRAV_CORPUS=$models

started=$SECONDS
echo "== in-process, every prefix of every corpus model"
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrav-prefixes-XXXXXX")
mkdir -p "$work/failures"
set +e
KESTRAV_PREFIX_LARGEST=1000000000 "$build/tests/prefix_test" --gtest_filter='Prefix.*' >"$work/in-process.log" 2>&1
in_process=$?
set -e
grep -E '^\[ *(OK|FAILED|PASSED) *\]|Failure|Sanitizer|runtime error|Expected|Which is|prefix of' \
  "$work/in-process.log" || true
echo "   $((SECONDS - started)) s, status $in_process"

started=$SECONDS
runs=0
violations=0
slowest=0
slowest_case=
check() {
  local file=$1 size=$2 cut=$work/cut.3ds outcome seconds rest
  head -c "$size" "$file" >"$cut"
  # The runner gives the outcome (status-N, signal-N, timeout, sanitizer or
  # unreadable) and keeps the messages of a bad one in cut.3ds.err.
  read -r outcome seconds rest < <("$tools/sweep_run" "$build/kestrav" 0 5 "$cut")
  runs=$((runs + 1))
  if awk -v s="$seconds" -v m="$slowest" 'BEGIN { exit !(s > m) }'; then
    slowest=$seconds
    slowest_case="$(basename "$file") cut at $size"
  fi
  if [[ ! $outcome =~ ^status-[01]$ ]]; then
    violations=$((violations + 1))
    cp "$cut" "$work/failures/$(basename "$file").$size"
    cp "$cut.err" "$work/failures/$(basename "$file").$size.err" 2>/dev/null || true
    echo "VIOLATION: $(basename "$file") cut at $size: $outcome"
  fi
}

echo "== real binary, every $stride-th prefix of each corpus model and of the example"
while IFS= read -r model; do
  size=$(stat -c %s "$model")
  for ((cut = 0; cut < size; cut += stride)); do check "$model" "$cut"; done
  check "$model" "$size"
done < <(find "$models" -maxdepth 1 -iname '*.3ds' | sort; echo "$root/examples/cube.3ds")
echo "   $runs runs in $((SECONDS - started)) s, slowest $slowest s ($slowest_case), $violations violations"

if [ "$in_process" -ne 0 ] || [ "$violations" -ne 0 ]; then
  echo "FAILED (cut files in $work/failures)"
  exit 1
fi
rm -rf "$work"
echo "no violations"
