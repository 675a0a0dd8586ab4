#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the program and the tests need,
# only when something is missing.
set -eu
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev lld pkg-config git
  juce-modules-source googletest libgtest-dev
  libx11-dev libxext-dev libxrandr-dev libxinerama-dev libxcursor-dev libxrender-dev
  libfreetype-dev libfontconfig1-dev libpng-dev libjpeg-dev
  xvfb openbox xdotool x11-utils
  fonts-dejavu-core
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  # .ci/run has updated the package lists already.
  [ "${TARVIK_APT_UPDATED:-}" = 1 ] || $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
