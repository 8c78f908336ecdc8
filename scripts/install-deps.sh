#!/usr/bin/env bash
# Installs everything kestrav needs to build, run and test on Debian 12.
# Safe to run again: packages already present are left as they are.
set -euo pipefail

# To build: the compiler, CMake and Ninja, Coin and SoQt, the OpenGL, EGL, GLX
# and X11 headers of the line-width query, and Mesa to answer it. simage lets
# Coin decode the viewer's images; GraphicsMagick's C library decodes the
# images that -p writes as SGI RGB (the tests make theirs with its Magick++),
# and zlib checks PNG files first. To test: GoogleTest, clang with its
# sanitizer and fuzzer runtimes, Xvfb and ImageMagick for the viewer's
# screenshots, xdotool to press the viewer's keys, ivcat to read the scenes
# back with another Inventor reader, and man to check the manual page,
# pkg-config to check the installed library. nlohmann-json writes the batch's
# report; GNU parallel runs the README's recipe for many machines.
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  libcoin-dev libsoqt520-dev libsimage-dev libgraphicsmagick1-dev libgraphicsmagick++1-dev zlib1g-dev
  libegl-dev libgl-dev libglx-dev libx11-dev libgl1-mesa-dri libegl-mesa0
  libgtest-dev
  nlohmann-json3-dev
  xvfb imagemagick xdotool inventor-clients man-db pkg-config parallel
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
