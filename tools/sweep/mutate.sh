#!/usr/bin/env bash
# Converts N damaged copies of the corpus models (default 10000) with the real
# binary and checks each run: exit status 0 or 1, no signal, no sanitizer
# report, at most 5 seconds, at most 1 GB of memory, and after status 0 a
# written scene that Coin reads back. Prints the counts by outcome, the slowest
# case and the largest peak RSS; exits non-zero on any violation, whose inputs
# are kept in the work folder's failures/.
#
#   tools/sweep/mutate.sh [N] [FIRST_SEED]
#
# KESTRAV_BINARY picks the binary (default: a Release build in build-sweep).
# A binary built with sanitizers is recognised and run with leak checks; its
# memory is measured as peak RSS, since AddressSanitizer reserves far more
# address space than it uses. Otherwise the address space itself is capped at
# 1 GB, so an allocation past it fails inside the run. SWEEP_JOBS (default 2)
# runs that many conversions at once.
set -euo pipefail

count=${1:-10000}
seed=${2:-1}
root=$(cd "$(dirname "$0")/../.." && pwd)
models=${KESTRAV_CORPUS:-$root/tests/data/corpus}
jobs=${SWEEP_JOBS:-2}
binary=${KESTRAV_BINARY:-}
if [ -z "$binary" ]; then
  cmake -S "$root" -B "$root/build-sweep" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRAV_TESTS=OFF >/dev/null
  ninja -C "$root/build-sweep" -j2 kestrav >/dev/null
  binary=$root/build-sweep/kestrav
fi
# shellcheck source=tools/sweep/tools.sh
. "$root/tools/sweep/tools.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrav-mutate-XXXXXX")
mkdir -p "$work/cases" "$work/failures"
# The images beside the copies, so textured materials find their files.
find "$models" -maxdepth 1 -type f ! -iname '*.3ds' ! -name '*.md' -exec cp {} "$work/cases/" \;
mapfile -t inputs < <(find "$models" -maxdepth 1 -iname '*.3ds' | sort)
"$tools/sweep_mutate" "$work/cases" "$count" "$seed" "${inputs[@]}"

# grep -c reads to the end, so nm never dies of a closed pipe.
if nm "$binary" 2>/dev/null | grep -c __asan_init >/dev/null; then
  sanitized=1
  address_space=0
else
  sanitized=0
  address_space=1073741824
fi
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
# Sanitizer reports get exit statuses of their own, apart from the program's 1;
# symbolising is skipped for speed (the module suppressions need no symbols).
export ASAN_OPTIONS="exitcode=86:symbolize=0"
export UBSAN_OPTIONS="exitcode=87:print_stacktrace=1"

started=$SECONDS
find "$work/cases" \( -name '*.3ds' -o -name '*.3DS' \) -print0 |
  xargs -0 -P "$jobs" -n 50 "$tools/sweep_run" "$binary" "$address_space" 5 >>"$work/results"
# Keep the inputs of every violation beside their messages.
awk '$1 !~ /^status-[01]$/ || $2 > 5 || $3 > 1048576 { print $4 }' "$work/results" |
  while IFS= read -r name; do mv "$work/cases/$name" "$work/cases/$name.err" "$work/failures/" 2>/dev/null || true; done

kind=$(basename "$binary")
[ "$sanitized" = 0 ] || kind="$kind with sanitizers"
echo "$(wc -l <"$work/results") damaged copies of ${#inputs[@]} models, $kind, $((SECONDS - started)) s"
echo "outcomes:"
awk '{ n[$1]++ } END { for (o in n) printf "  %-20s %d\n", o, n[o] }' "$work/results" | sort
echo "by damage:"
awk '{ split($4, p, "-"); split(p[2], k, "_"); n[k[1] " " $1]++ } END { for (o in n) printf "  %-28s %d\n", o, n[o] }' \
  "$work/results" | sort
sort -k2,2 -g "$work/results" | tail -n 1 | awk '{ printf "slowest: %s s  %s\n", $2, $4 }'
sort -k3,3 -g "$work/results" | tail -n 1 | awk '{ printf "largest peak RSS: %.1f MB  %s\n", $3 / 1024, $4 }'

violations=$(awk '$1 !~ /^status-[01]$/ || $2 > 5 || $3 > 1048576' "$work/results" | wc -l)
if [ "$violations" -ne 0 ]; then
  echo "VIOLATIONS: $violations (inputs and their messages in $work/failures)"
  awk '$1 !~ /^status-[01]$/ || $2 > 5 || $3 > 1048576' "$work/results" | head -n 20
  exit 1
fi
rm -rf "$work"
echo "no violations"
