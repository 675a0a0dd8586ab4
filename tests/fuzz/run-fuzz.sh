#!/usr/bin/env bash
# Builds the libFuzzer targets in the ASan build (clang, with libFuzzer's coverage; see
# scripts/configure.sh) and runs each for a bounded time from its committed seed corpus.
# Needs the Debian packages clang and libclang-rt-14-dev, plus what scripts/deps.sh installs
# (Xvfb for the settings target).
# Usage: tests/fuzz/run-fuzz.sh [--build-only | --no-build] [seconds per target, default 30]
set -eu
cd "$(dirname "$0")/../.."
step=all
case ${1:-} in --build-only) step=build; shift ;; --no-build) step=fuzz; shift ;; esac
seconds=${1:-30}
build=${TARVIK_FUZZ_BUILD_DIR:-build-asan}

if [ "$step" != fuzz ]; then
scripts/configure.sh asan "$build" >/dev/null
cmake --build "$build" -j "${TARVIK_FUZZ_JOBS:-$(nproc)}" --target fuzz_settings fuzz_control_command
fi
[ "$step" != build ] || exit 0

# New inputs go to a scratch folder; the committed seeds stay as they are.
status=0
for target in settings control_command; do
  corpus=tests/fuzz/corpus/${target%_command}
  scratch=$build/fuzz-corpus-$target
  mkdir -p "$scratch"
  log=$build/fuzz-$target.log
  echo "== fuzz_$target: $seconds s"
  # Xvfb: the panel's dialog windows need a display.
  if tests/support/xvfb-exec.sh "$build/tests/fuzz/fuzz_$target" "$scratch" "$corpus" \
       -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -max_len=65536 \
       -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$build/fuzz-$target-" >"$log" 2>&1; then
    grep -E '^(#[0-9]+ +DONE|Done [0-9]+ runs)|stat::number_of_executed_units' "$log" || tail -n 5 "$log"
  else
    status=1
    # The report: libFuzzer's and the sanitizer's lines, without the panel's own chatter.
    grep -vE '^(gross|mittel|klein|Gross|Mittel|Klein|resized:|Konstr:)' "$log" | tail -n 60
    echo "fuzz_$target FAILED; the input that broke it is $build/fuzz-$target-crash-*"
  fi
done
exit $status
