#!/usr/bin/env bash
# Converts N damaged copies of the corpus models (default 10000) with the real
# binary and checks each run: exit status 0 or 1, no signal, no sanitizer
# report, at most 5 seconds, at most 1 GB of memory. Prints the counts by
# outcome, the slowest case and the largest peak RSS; exits non-zero on any
# violation, whose inputs are kept in the work folder's failures/.
#
#   sweep/mutate.sh [N] [FIRST_SEED]
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
root=$(cd "$(dirname "$0")/.." && pwd)
models=${KESTRAV_CORPUS:-$root/../shared/corpus}
jobs=${SWEEP_JOBS:-2}
binary=${KESTRAV_BINARY:-}
if [ -z "$binary" ]; then
  cmake -S "$root" -B "$root/build-sweep" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRAV_TESTS=OFF >/dev/null
  ninja -C "$root/build-sweep" -j2 kestrav >/dev/null
  binary=$root/build-sweep/kestrav
fi
tools=$root/build-sweep-tools
mkdir -p "$tools"
if [ ! "$tools/sweep_mutate" -nt "$root/sweep/Mutator.cpp" ]; then
  c++ -std=c++17 -O2 -Wall -Wextra -Wshadow -I "$root" "$root/sweep/Mutator.cpp" -o "$tools/sweep_mutate"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrav-mutate-XXXXXX")
mkdir -p "$work/cases" "$work/failures"
# The images beside the copies, so textured materials find their files.
find "$models" -maxdepth 1 -type f ! -iname '*.3ds' ! -name '*.md' -exec cp {} "$work/cases/" \;
mapfile -t inputs < <(find "$models" -maxdepth 1 -iname '*.3ds' | sort)
"$tools/sweep_mutate" "$work/cases" "$count" "$seed" "${inputs[@]}"

if nm -C "$binary" 2>/dev/null | grep -q __asan_init; then
  sanitized=1
else
  sanitized=0
fi
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
# Sanitizer reports get exit statuses of their own, apart from the program's 1;
# symbolising is skipped for speed (the module suppressions need no symbols).
export ASAN_OPTIONS="exitcode=86:symbolize=0"
export UBSAN_OPTIONS="exitcode=87:print_stacktrace=1"
export binary sanitized work

# One conversion; appends "outcome seconds peak-RSS-kB file" to the results.
run_one() {
  local input=$1 name status outcome
  name=$(basename "$input")
  local limit=()
  [ "$sanitized" = 1 ] || limit=(prlimit --as=1073741824)
  set +e
  /usr/bin/time -f "%e %M" -o "$input.time" timeout -s KILL 5 env -u DISPLAY "${limit[@]}" \
    "$binary" "$input" "$input.iv" >/dev/null 2>"$input.err"
  status=$?
  set -e
  case $status in
    0 | 1) outcome="status-$status" ;;
    86 | 87) outcome=sanitizer ;;
    137) outcome=killed-or-timeout ;;
    *) if [ "$status" -gt 128 ]; then outcome="signal-$((status - 128))"; else outcome="status-$status"; fi ;;
  esac
  if grep -qE 'Sanitizer|runtime error' "$input.err"; then outcome=sanitizer; fi
  read -r seconds rss < <(tail -n 1 "$input.time")
  echo "$outcome $seconds $rss $name" >>"$work/results.$BASHPID"
  rm -f "$input.iv" "$input.time"
  if [[ $outcome == status-[01] ]] && awk -v s="$seconds" -v m="$rss" 'BEGIN { exit !(s <= 5 && m <= 1048576) }'; then
    rm -f "$input" "$input.err"
  else
    mv "$input" "$input.err" "$work/failures/"
  fi
}
export -f run_one

started=$SECONDS
find "$work/cases" -name '*.3ds' -o -name '*.3DS' | xargs -P "$jobs" -n 20 bash -c 'for f; do run_one "$f"; done' _
cat "$work"/results.* >"$work/results"

echo "$(wc -l <"$work/results") damaged copies of ${#inputs[@]} models, $(basename "$binary")$([ "$sanitized" = 1 ] && echo ' with sanitizers'), $((SECONDS - started)) s"
echo "outcomes:"
awk '{ n[$1]++ } END { for (o in n) printf "  %-20s %d\n", o, n[o] }' "$work/results" | sort
echo "by damage:"
awk '{ split($4, p, "-"); split(p[2], k, "_"); n[k[1] " " $1]++ } END { for (o in n) printf "  %-28s %d\n", o, n[o] }' \
  "$work/results" | sort
sort -k2,2 -g "$work/results" | tail -n 1 | awk '{ printf "slowest: %s s  %s\n", $2, $4 }'
sort -k3,3 -g "$work/results" | tail -n 1 | awk '{ printf "largest peak RSS: %.1f MB  %s\n", $3 / 1024, $4 }'

violations=$(find "$work/failures" -name '*.3ds' -o -name '*.3DS' | wc -l)
if [ "$violations" -ne 0 ]; then
  echo "VIOLATIONS: $violations (inputs and their messages in $work/failures)"
  awk '$1 !~ /^status-[01]$/ || $2 > 5 || $3 > 1048576' "$work/results" | head -n 20
  exit 1
fi
rm -rf "$work"
echo "no violations"
