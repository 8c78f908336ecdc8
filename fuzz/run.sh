#!/usr/bin/env bash
# Builds the fuzz targets and fuzzes for the given number of seconds: the
# reader alone (fast, many inputs a second), the whole conversion up to the
# scene graph (slower, reaches the builders) and the image step of -p (images
# decoded and written as SGI RGB), the time shared evenly unless one is named. Exits non-zero on any crash, leak, timeout or out-of-memory; the input
# that caused it is left in the target's work folder as crash-*, leak-*,
# timeout-* or oom-*.
#
#   fuzz/run.sh SECONDS [reader|converter|image|all]
set -euo pipefail

usage="usage: fuzz/run.sh SECONDS [reader|converter|image|all]"
seconds=${1:?$usage}
which=${2:-all}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
models=${KESTRAV_CORPUS:-$root/tests/data/corpus}

case $which in
  reader | converter | image) targets=("$which") ;;
  all) targets=(reader converter image) seconds=$((seconds / 3)) ;;
  *) echo "$usage" >&2; exit 2 ;;
esac

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTRAV_FUZZ=ON -DKESTRAV_TESTS=OFF >/dev/null
ninja -C "$build" -j2 reader_fuzz converter_fuzz image_fuzz reader_fuzz_seeds image_fuzz_seeds

seeds=$root/fuzz/seeds-work
mkdir -p "$seeds"
"$build/fuzz/reader_fuzz_seeds" "$seeds"
cp "$root"/tests/regressions/*.3ds "$seeds/" 2>/dev/null || true
if [ -d "$models" ]; then
  find "$models" -maxdepth 1 -iname '*.3ds' -exec cp {} "$seeds/" \;
fi

# The converter's inputs start with a byte of option bits (see
# ConverterFuzz.cpp): each model goes in with none, and with cameras, lights,
# animation and the written scene.
converter_seeds=$root/fuzz/converter-seeds-work
rm -rf "$converter_seeds"
mkdir -p "$converter_seeds"
for model in "$seeds"/*; do
  name=$(basename "$model")
  { printf '\000'; cat "$model"; } >"$converter_seeds/plain-$name"
  { printf '\160'; cat "$model"; } >"$converter_seeds/lit-$name"
done

image_seeds=$root/fuzz/image-seeds-work
mkdir -p "$image_seeds"
"$build/fuzz/image_fuzz_seeds" "$image_seeds"

# Coin keeps some memory for the life of the process.
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"

for target in "${targets[@]}"; do
  # The reader's work folder keeps its old name, so earlier runs' inputs stay.
  work=$root/fuzz/corpus-work
  [ "$target" = converter ] && work=$root/fuzz/converter-work
  [ "$target" = image ] && work=$root/fuzz/image-work
  mkdir -p "$work/corpus"
  echo "== fuzzing the ${target} for ${seconds} s"
  # New inputs go into the first folder; the seeds are only read. Images have
  # no chunk dictionary.
  if [ "$target" = image ]; then
    inputs=("$image_seeds") dictionary=()
  elif [ "$target" = converter ]; then
    inputs=("$converter_seeds") dictionary=(-dict="$root/fuzz/reader.dict")
  else
    inputs=("$seeds") dictionary=(-dict="$root/fuzz/reader.dict")
  fi
  "$build/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=16384 \
    -print_final_stats=1 "${dictionary[@]}" -artifact_prefix="$work/" \
    "$work/corpus" "${inputs[@]}"
done
