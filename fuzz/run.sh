#!/usr/bin/env bash
# Builds the fuzz targets and fuzzes for the given number of seconds: the
# reader alone (fast, many inputs a second) and the whole conversion up to the
# scene graph (slower, reaches the builders), half the time each unless one is
# named. Exits non-zero on any crash, leak, timeout or out-of-memory; the input
# that caused it is left in the target's work folder as crash-*, leak-*,
# timeout-* or oom-*.
#
#   fuzz/run.sh SECONDS [reader|converter|both]
set -euo pipefail

seconds=${1:?usage: fuzz/run.sh SECONDS [reader|converter|both]}
which=${2:-both}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
models=${KESTRAV_CORPUS:-$root/tests/data/corpus}

case $which in
  reader | converter) targets=("$which") ;;
  both) targets=(reader converter) seconds=$((seconds / 2)) ;;
  *) echo "usage: fuzz/run.sh SECONDS [reader|converter|both]" >&2; exit 2 ;;
esac

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTRAV_FUZZ=ON -DKESTRAV_TESTS=OFF >/dev/null
ninja -C "$build" -j2 reader_fuzz converter_fuzz reader_fuzz_seeds

seeds=$root/fuzz/seeds-work
mkdir -p "$seeds"
"$build/fuzz/reader_fuzz_seeds" "$seeds"
cp "$root"/tests/regressions/*.3ds "$seeds/" 2>/dev/null || true
if [ -d "$models" ]; then
  find "$models" -maxdepth 1 -iname '*.3ds' -exec cp {} "$seeds/" \;
fi

# Coin keeps some memory for the life of the process.
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"

for target in "${targets[@]}"; do
  # The reader's work folder keeps its old name, so earlier runs' inputs stay.
  work=$root/fuzz/corpus-work
  [ "$target" = converter ] && work=$root/fuzz/converter-work
  mkdir -p "$work/corpus"
  echo "== fuzzing the ${target} for ${seconds} s"
  # New inputs go into the first folder; the seeds are only read.
  "$build/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=16384 \
    -print_final_stats=1 -dict="$root/fuzz/reader.dict" -artifact_prefix="$work/" \
    "$work/corpus" "$seeds"
done
