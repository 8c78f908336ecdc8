#!/usr/bin/env bash
# Checks what a user installs: cmake --install into a temporary prefix gives the
# program, its converter and viewer modules and its manual page, the page renders without a
# warning, the installed program converts the example and (with xvfb-run)
# loads its viewer, the library example builds against
# the installed CMake package and pkg-config file and runs, and cpack makes a
# Debian package holding the program and its page.
#   bash scripts/check-package.sh      (after scripts/test.sh has built build/)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${KESTRAV_BUILD_DIR:-$root/build}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

fail() {
  echo "check-package: $*" >&2
  exit 1
}

cmake --install "$build" --prefix "$prefix" >/dev/null
[ -x "$prefix/bin/kestrav" ] || fail "no bin/kestrav under the prefix"
page=$prefix/share/man/man1/kestrav.1
[ -f "$page" ] || fail "no share/man/man1/kestrav.1 under the prefix"

# groff reports every warning on standard error; the page must give none.
warnings=$(MANWIDTH=80 man --warnings=all -l "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the manual page renders with warnings: $warnings"
MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q "TEXTURE LOOK-UP" || fail "the manual page lacks TEXTURE LOOK-UP"

# What converts is a module the installed program loads from lib/kestrav.
[ -f "$prefix/lib/kestrav/kestrav-converter.so" ] || fail "no lib/kestrav/kestrav-converter.so under the prefix"
"$prefix/bin/kestrav" "$root/examples/cube.3ds" "$prefix/cube.iv"
head -n 1 "$prefix/cube.iv" | grep -q '^#Inventor V2.1 ascii' || fail "the installed program wrote no scene"

# The viewer is a module that -e and -v load from beside the installed program.
[ -f "$prefix/lib/kestrav/kestrav-viewer.so" ] || fail "no lib/kestrav/kestrav-viewer.so under the prefix"
if command -v xvfb-run >/dev/null; then
  # A viewer that loaded is still showing the model when the time is up (Qt
  # may have said something about the environment on the way).
  shown=0
  said=$(xvfb-run -a timeout 3 "$prefix/bin/kestrav" -v "$root/examples/cube.3ds" 2>&1) || shown=$?
  [ "$shown" = 124 ] || fail "the installed viewer did not start (status $shown): $said"
fi

# A program of someone else's: the example, configured out of tree against the
# installed CMake package, built, and run on the example model.
for f in include/kestrav/kestrav.h lib/libkestrav.a lib/pkgconfig/kestrav.pc \
  lib/cmake/kestrav/kestravConfig.cmake; do
  [ -f "$prefix/$f" ] || fail "no $f under the prefix"
done
example=$prefix/example-build
cmake -S "$root/examples/library" -B "$example" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null ||
  fail "the example does not configure against the installed package"
cmake --build "$example" >/dev/null || fail "the example does not build against the installed package"
said=$("$example/count_instances" "$root/examples/cube.3ds" "$prefix/example.iv") || fail "the example failed"
grep -q ': 1 mesh instances$' <<<"$said" || fail "the example said: $said"
head -n 1 "$prefix/example.iv" | grep -q '^#Inventor V2.1 ascii' || fail "the example wrote no scene"
# The same program built with pkg-config's flags alone.
PKG_CONFIG_PATH=$prefix/lib/pkgconfig \
  c++ -std=c++17 "$root/examples/library/count_instances.cpp" -o "$prefix/count_instances_pc" \
  $(PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config --cflags --libs kestrav) ||
  fail "the example does not build with pkg-config's flags"
"$prefix/count_instances_pc" "$root/examples/cube.3ds" "$prefix/example-pc.iv" >/dev/null || fail "the pkg-config build failed"

(cd "$build" && rm -f kestrav_*.deb && cpack -G DEB >/dev/null)
deb=$(ls "$build"/kestrav_*.deb)
contents=$(dpkg-deb -c "$deb")
grep -q '\./usr/bin/kestrav$' <<<"$contents" || fail "the package holds no /usr/bin/kestrav"
grep -q '\./usr/share/man/man1/kestrav.1$' <<<"$contents" || fail "the package holds no manual page"
grep -q '/kestrav/kestrav-viewer\.so$' <<<"$contents" || fail "the package holds no viewer module"
grep -q '/kestrav/kestrav-converter\.so$' <<<"$contents" || fail "the package holds no converter module"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libcoin80c libsoqt520 libsimage20 libgl1-mesa-dri; do
  grep -qw "$needed" <<<"$depends" || fail "the package does not depend on $needed"
done
echo "check-package: installed files, manual page and $(basename "$deb") are in order"
