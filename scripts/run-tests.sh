#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test three times, each in its own
# build folder: plain (build/), with AddressSanitizer and UndefinedBehaviorSanitizer
# (build-asan/) and with ThreadSanitizer (build-tsan/, without the e2e suite); last, it fuzzes
# (build-fuzz/). Each GUI test runs on a private Xvfb display, with or without a desktop session.
#
#   TARVIK_TEST_RUNS   the runs to make, in order (default "plain asan tsan fuzz"; fuzz builds
#                      the libFuzzer targets with clang in build-fuzz/ and runs each for
#                      TARVIK_FUZZ_SECONDS, default 30)
#   TARVIK_BUILD_DIR   the plain build folder; the others get -asan and -tsan (default build)
#   TARVIK_BUILD_TYPE  CMake build type (default Debug)
#   TARVIK_JOBS        build and test jobs (default: the number of cores)
#
# Any sanitizer report fails the process that made it at once, and with it its test (program
# tests see their program's reports too; tests/support/xvfb-exec.sh collects them). Test output
# lines ending in "failures: N" (the suites' counts) are repeated after each run. After CTest's
# run, which gives every test a process of its own, each unit-test binary (all but e2e_tests)
# runs once more as a whole in shuffled order, so a test that leans on state another test left
# behind fails the run, and so does any "JUCE Assertion" in its output; the output goes to
# <build>/whole-shuffled/. Each build turns the benchmark on (TARVIK_BENCH), so that CTest's
# bench_short checks that a short benchmark run still works. The script
# fails when any run failed, or when an include in src/ breaks the directions the README's
# Layout section allows (scripts/check-includes.sh); its output ends with CTest's summary of
# the last run.
set -u
cd "$(dirname "$0")/.."
scripts/deps.sh || exit 1

runs=${TARVIK_TEST_RUNS:-plain asan tsan fuzz}
base=${TARVIK_BUILD_DIR:-build}
jobs=${TARVIK_JOBS:-$(nproc)}
suppressions=$PWD/tests/sanitizers

sanitizerOf() { case $1 in asan) echo address ;; tsan) echo thread ;; *) echo "" ;; esac; }
folderOf() { case $1 in plain) echo "$base" ;; *) echo "$base-$1" ;; esac; }

# Reports from processes that no wrapper watches land here; any file fails the run.
setOptions() {
  local reports=$1
  unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS TSAN_OPTIONS
  case $2 in
    asan)
      export ASAN_OPTIONS="halt_on_error=1:exitcode=1:detect_leaks=1:log_path=$reports/asan"
      export UBSAN_OPTIONS="halt_on_error=1:exitcode=1:print_stacktrace=1:log_path=$reports/ubsan"
      export LSAN_OPTIONS="suppressions=$suppressions/lsan.supp:print_suppressions=0"
      ;;
    tsan)
      export TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1:suppressions=$suppressions/tsan.supp:print_suppressions=0:log_path=$reports/tsan"
      ;;
  esac
}

# Runs each unit-test binary of the build folder once, whole and shuffled, on its own display;
# prints a line per binary (with gtest's seed) and fails when any of them failed or met a
# JUCE assertion (Debug builds print them and go on).
runWholeShuffled() {
  local logs=$1/whole-shuffled status=0 binary name seed
  rm -rf "$logs" && mkdir -p "$logs"
  find "$1/tests" -name '*_tests' -type f -perm -u+x ! -name e2e_tests | sort \
    | xargs -P "$jobs" -I{} sh -c 'timeout 900 tests/support/xvfb-exec.sh "$1" --gtest_shuffle >"$2/${1##*/}.txt" 2>&1; echo $? >"$2/${1##*/}.status"' _ {} "$logs"
  for binary in "$logs"/*.status; do
    name=${binary##*/}; name=${name%.status}
    seed=$(grep -om1 'with a seed of [0-9]*' "$logs/$name.txt" | grep -o '[0-9]*$')
    if [ "$(cat "$binary")" = 0 ] && ! grep -q 'JUCE Assertion' "$logs/$name.txt"; then
      echo "whole shuffled: $name passed (seed ${seed:-?})"
    else
      echo "whole shuffled: $name FAILED (seed ${seed:-?}; $logs/$name.txt)"
      grep -E '^\[  FAILED  \] [^ ]+\.[^ ]+|JUCE Assertion' "$logs/$name.txt" | sort -u
      status=1
    fi
  done
  return $status
}

failed=()
summary=()

# The include directions of the README's Layout section.
if scripts/check-includes.sh; then
  summary+=("includes: passed")
else
  summary+=("includes: FAILED")
  failed+=("includes")
fi
for run in $runs; do
  case $run in plain|asan|tsan|fuzz) ;; *) echo "run-tests: unknown run '$run' (plain, asan, tsan, fuzz)" >&2; exit 2 ;; esac
  if [ "$run" = fuzz ]; then
    echo "==== fuzz: building and fuzzing in build-fuzz/"
    started=$SECONDS
    if tests/fuzz/run-fuzz.sh "${TARVIK_FUZZ_SECONDS:-30}"; then
      summary+=("fuzz: passed, $((SECONDS - started)) s")
    else
      summary+=("fuzz: FAILED, $((SECONDS - started)) s")
      failed+=("fuzz")
    fi
    continue
  fi
  build=$(folderOf "$run")
  echo "==== $run: building in $build/"
  started=$SECONDS
  if ! cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${TARVIK_BUILD_TYPE:-Debug}" \
         -DTARVIK_WERROR=ON -DTARVIK_BENCH=ON -DTARVIK_SANITIZE="$(sanitizerOf "$run")" >/dev/null \
     || ! cmake --build "$build" -j "$jobs"; then
    failed+=("$run")
    summary+=("$run: build failed")
    continue
  fi
  built=$SECONDS

  reports=$PWD/$build/sanitizer-reports
  rm -rf "$reports" && mkdir -p "$reports"
  setOptions "$reports" "$run"
  echo "==== $run: testing"
  # The e2e suite drives the program through the X server and a window manager, where
  # ThreadSanitizer adds nothing the unit and program tests do not already cover, and
  # slows the program past what a desktop tolerates: it runs in the other passes.
  excluded=()
  [ "$run" = tsan ] && excluded=(-LE e2e)
  (cd "$build" && ctest -j "$jobs" --output-on-failure --timeout 300 "${excluded[@]}") 2>&1 | tee "$build/ctest-output.txt"
  status=${PIPESTATUS[0]}
  echo "==== $run: each unit-test binary whole, shuffled"
  runWholeShuffled "$build" || status=1
  unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS TSAN_OPTIONS

  for report in "$reports"/*; do
    [ -e "$report" ] || continue
    echo "==== $run: sanitizer report ${report##*/}:"
    cat "$report"
    status=1
  done

  grep -hE 'failures: [0-9]+$' "$build/Testing/Temporary/LastTest.log" 2>/dev/null | sed "s/^/$run: /"
  summary+=("$run: $([ "$status" -eq 0 ] && echo passed || echo FAILED), build $((built - started)) s, tests $((SECONDS - built)) s")
  [ "$status" -eq 0 ] || failed+=("$run")
  last=$build
done

echo "==== runs"
printf '%s\n' "${summary[@]}"
# CTest's own summary of the last run closes the output.
if [ -n "${last:-}" ] && [ -f "$last/ctest-output.txt" ]; then
  sed -n '/tests passed, /,$p' "$last/ctest-output.txt"
fi
[ ${#failed[@]} -eq 0 ]
