#!/usr/bin/env bash
# Configures one of the test command's builds (scripts/run-tests.sh, tests/fuzz/run-fuzz.sh):
#   scripts/configure.sh plain|asan|tsan FOLDER
# plain: the default compiler (g++ on Debian), with the benchmark. asan and tsan: clang, which
# builds JUCE under a sanitizer in a fraction of g++'s time and keeps the other compiler's
# warnings in the run. The ASan build also carries libFuzzer's coverage, so that the fuzz
# targets (tests/fuzz/) are built there and need no build of their own.
set -eu
cd "$(dirname "$0")/.."
run=$1
folder=$2
# lld links the twenty-odd programs, each with JUCE in it, in a fraction of ld's time.
common=(-S . -B "$folder" -G Ninja -DCMAKE_BUILD_TYPE="${TARVIK_BUILD_TYPE:-Debug}" -DTARVIK_WERROR=ON
        -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld)
case $run in
  plain)
    cmake "${common[@]}" -DTARVIK_SANITIZE= -DTARVIK_BENCH=ON ;;
  asan)
    CC=clang CXX=clang++ cmake "${common[@]}" -DTARVIK_SANITIZE=address -DTARVIK_BENCH=OFF \
      -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link ;;
  tsan)
    CC=clang CXX=clang++ cmake "${common[@]}" -DTARVIK_SANITIZE=thread -DTARVIK_BENCH=OFF ;;
  *)
    echo "configure: unknown build '$run' (plain, asan, tsan)" >&2
    exit 2 ;;
esac
