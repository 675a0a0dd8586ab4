#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
# Each GUI test runs on a private Xvfb display, with or without a desktop session.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh
build=${TARVIK_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${TARVIK_BUILD_TYPE:-Debug} \
  -DTARVIK_WERROR=ON -DTARVIK_SANITIZE=${TARVIK_SANITIZE:-} >/dev/null
cmake --build "$build" -j "$(nproc)"
cd "$build"
ctest -j "$(nproc)" --output-on-failure --timeout 300
