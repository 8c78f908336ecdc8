#!/usr/bin/env bash
# Builds the reader's fuzz target and fuzzes it for the given number of seconds.
# Exits non-zero on any crash, leak, timeout or out-of-memory; the input that
# caused it is left in the work folder as crash-*, leak-*, timeout-* or oom-*.
#
#   fuzz/run.sh SECONDS [BUILD_DIR]
set -euo pipefail

seconds=${1:?usage: fuzz/run.sh SECONDS [BUILD_DIR]}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$root/build-fuzz}
work=$root/fuzz/corpus-work
models=${KESTRAV_CORPUS:-$root/../shared/corpus}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTRAV_FUZZ=ON -DKESTRAV_TESTS=OFF >/dev/null
ninja -C "$build" -j2 reader_fuzz reader_fuzz_seeds

mkdir -p "$work/corpus" "$work/seeds"
"$build/fuzz/reader_fuzz_seeds" "$work/seeds"
cp "$root"/tests/regressions/*.3ds "$work/seeds/" 2>/dev/null || true
if [ -d "$models" ]; then
  find "$models" -maxdepth 1 -iname '*.3ds' -exec cp {} "$work/seeds/" \;
fi

# New inputs go into the first folder; the seeds are only read.
"$build/fuzz/reader_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=16384 \
  -print_final_stats=1 -dict="$root/fuzz/reader.dict" -artifact_prefix="$work/" \
  "$work/corpus" "$work/seeds"
