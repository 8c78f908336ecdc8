#!/usr/bin/env bash
# Builds kestrav and its benchmarks in Release and prints the tables of figures.
#   bench/run.sh [-r runs] [-n small-files] [-e example-runs] [-F]   (-F: only the floor table)
#   bench/run.sh --archive [-r runs]      (only what archives cost: -r, -u, the image look-up)
# The models are made in a scratch directory that is removed at the end. When
# Xvfb is installed, the bundled example is also converted with a display.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRAV_BENCH=ON -DKESTRAV_TESTS=OFF >/dev/null
ninja -C "$build" -j2 kestrav kestrav_bench kestrav_archive_bench >/dev/null
archive_only=false
if [ "${1:-}" = --archive ]; then
  archive_only=true
  shift
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kestrav-bench-XXXXXX")
xvfb=""
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT

display_args=()
if ! $archive_only && command -v Xvfb >/dev/null; then
  # Qt wants the runtime directory a desktop session has.
  mkdir -m 700 "$scratch/runtime"
  export XDG_RUNTIME_DIR="$scratch/runtime"
  # Xvfb picks a free display number and writes it to the descriptor it is given.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/display" 2>/dev/null &
  xvfb=$!
  for _ in $(seq 100); do
    [ -s "$scratch/display" ] && break
    sleep 0.1
  done
  if [ -s "$scratch/display" ]; then
    display_args=(-d ":$(head -n1 "$scratch/display")")
  fi
fi

commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)
[ -n "$(git -C "$root" status --porcelain --untracked-files=no 2>/dev/null)" ] && commit="$commit with local changes"
echo "kestrav $commit; $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//');" \
  "load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
if $archive_only; then
  "$build/bench/kestrav_archive_bench" "$@" "$build/kestrav" "$scratch/archive"
else
  "$build/bench/kestrav_bench" "${display_args[@]}" "$@" "$build/kestrav" "$scratch/work"
  echo
  "$build/bench/kestrav_archive_bench" "$build/kestrav" "$scratch/archive"
fi
