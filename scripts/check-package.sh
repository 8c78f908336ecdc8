#!/usr/bin/env bash
# Checks what a user installs: cmake --install into a temporary prefix gives the
# program and its manual page, the page renders without a warning, the
# installed program converts the example, and cpack makes a Debian package
# holding both.
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

"$prefix/bin/kestrav" "$root/examples/cube.3ds" "$prefix/cube.iv"
head -n 1 "$prefix/cube.iv" | grep -q '^#Inventor V2.1 ascii' || fail "the installed program wrote no scene"

(cd "$build" && rm -f kestrav_*.deb && cpack -G DEB >/dev/null)
deb=$(ls "$build"/kestrav_*.deb)
contents=$(dpkg-deb -c "$deb")
grep -q '\./usr/bin/kestrav$' <<<"$contents" || fail "the package holds no /usr/bin/kestrav"
grep -q '\./usr/share/man/man1/kestrav.1$' <<<"$contents" || fail "the package holds no manual page"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libcoin80c libsoqt520 libsimage20 libgl1-mesa-dri; do
  grep -qw "$needed" <<<"$depends" || fail "the package does not depend on $needed"
done
echo "check-package: installed files, manual page and $(basename "$deb") are in order"
