#!/usr/bin/env bash
# Installs what kestrav needs, builds it, and converts the bundled example model.
#   bash scripts/example.sh        (from anywhere; the build goes to build/)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${KESTRAV_BUILD_DIR:-$root/build}
cd "$root"

bash scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DKESTRAV_TESTS=OFF >/dev/null
cmake --build "$build" --target kestrav -j "${KESTRAV_JOBS:-$(nproc)}"

scene=$build/cube.iv
"$build/kestrav" examples/cube.3ds "$scene"
echo
echo "Converted examples/cube.3ds; the Open Inventor scene is in:"
echo "  $scene ($(wc -l <"$scene") lines), starting with:"
head -n 12 "$scene" | sed 's/^/    /'
echo "View it with: $build/kestrav -v examples/cube.3ds   (needs a display)"
