#!/usr/bin/env bash
# Builds the program, the reference window and the benchmark as a Release build and runs
# the benchmark; arguments go to it ("--short" for a quick run).
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh
build=${TARVIK_BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVIK_WERROR=ON -DTARVIK_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target tarvik_bench
exec "$build/bench/tarvik_bench" "$@"
