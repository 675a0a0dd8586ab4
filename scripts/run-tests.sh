#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: plain (build/), with
# AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/) and with ThreadSanitizer
# (build-tsan/); last, it fuzzes (build-fuzz/). Each GUI test runs on a private Xvfb display,
# with or without a desktop session.
#
#   TARVIK_TEST_RUNS   the runs to make, in order (default "plain asan tsan fuzz"; fuzz builds
#                      the libFuzzer targets with clang in build-fuzz/ and runs each for
#                      TARVIK_FUZZ_SECONDS, default 30)
#   TARVIK_BUILD_DIR   the plain build folder; the others get -asan and -tsan (default build)
#   TARVIK_BUILD_TYPE  CMake build type (default Debug)
#   TARVIK_JOBS        build and test jobs (default: the number of cores)
#
# Each thing runs once where once is enough. The plain run runs every test, the soaks at full
# size, and then each unit-test binary (all but e2e_tests) once more as a whole in shuffled
# order, so a test that leans on state another test left behind fails the run, and so does any
# "JUCE Assertion" in its output (<build>/whole-shuffled/). Every time limit in the tests comes
# from one scale (TARVIK_TIMEOUT_SCALE, read by tests/support/Timing.h): 2 in the plain run,
# which shares the machine with the next build, 4 under ASan, 6 under TSan. The sanitizer runs
# make the soaks small (TARVIK_SOAK=small); the ThreadSanitizer run leaves the end-to-end suite
# to the other two, and the tests labelled fixed-waits to the plain run.
#
# The builds run one after the other in the background, each as soon as the one before it is
# done, so that the next run's build overlaps this run's tests (which mostly wait), at a lower
# priority while tests run; a build's output goes to <build>/build-output.txt and is shown when
# it fails.
#
# Any sanitizer report fails the process that made it at once, and with it its test (program
# tests see their program's reports too; tests/support/xvfb-exec.sh collects them). Test output
# lines ending in "failures: N" (the suites' counts) are repeated after each run. Each build
# turns the benchmark on (TARVIK_BENCH), so that CTest's bench_short checks that a short
# benchmark run still works. The script fails when any run failed, or when an include in src/
# breaks the directions the README's Layout section allows (scripts/check-includes.sh); its
# output ends with CTest's summary of the last run.
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
  unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS TSAN_OPTIONS TARVIK_TIMEOUT_SCALE TARVIK_SOAK
  # The next run's build goes on beside the tests, and others may build on the machine too.
  export TARVIK_TIMEOUT_SCALE=2
  case $2 in
    asan)
      export TARVIK_TIMEOUT_SCALE=4 TARVIK_SOAK=small
      export ASAN_OPTIONS="halt_on_error=1:exitcode=1:detect_leaks=1:log_path=$reports/asan"
      export UBSAN_OPTIONS="halt_on_error=1:exitcode=1:print_stacktrace=1:log_path=$reports/ubsan"
      export LSAN_OPTIONS="suppressions=$suppressions/lsan.supp:print_suppressions=0"
      ;;
    tsan)
      export TARVIK_TIMEOUT_SCALE=6 TARVIK_SOAK=small
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

# Builds one run's folder; its output goes to a file in that folder.
buildRun() {
  local run=$1 build log
  if [ "$run" = fuzz ]; then
    build=${TARVIK_FUZZ_BUILD_DIR:-build-fuzz}
    mkdir -p "$build"
    TARVIK_FUZZ_JOBS=$jobs tests/fuzz/run-fuzz.sh --build-only >"$build/build-output.txt" 2>&1
    return
  fi
  build=$(folderOf "$run")
  mkdir -p "$build"
  log=$build/build-output.txt
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${TARVIK_BUILD_TYPE:-Debug}" \
        -DTARVIK_WERROR=ON -DTARVIK_BENCH=ON -DTARVIK_SANITIZE="$(sanitizerOf "$run")" >"$log" 2>&1 \
    && cmake --build "$build" -j "$jobs" >>"$log" 2>&1
}

# Every build in turn; "<status> <seconds>" goes to marks/<run> when one is done.
buildAll() {
  local run started
  for run in $runs; do
    started=$SECONDS
    buildRun "$run"
    echo "$? $((SECONDS - started))" >"$marks/$run.tmp" && mv "$marks/$run.tmp" "$marks/$run"
  done
}

for run in $runs; do
  case $run in plain|asan|tsan|fuzz) ;; *) echo "run-tests: unknown run '$run' (plain, asan, tsan, fuzz)" >&2; exit 2 ;; esac
done

failed=()
summary=()
marks=$(mktemp -d /tmp/tarvik-builds.XXXXXX)

# The builder gets a process group of its own (job control), so that an interrupted run ends
# it whole.
set -m
buildAll </dev/null &
builder=$!
set +m
trap 'kill -- -"$builder" 2>/dev/null; rm -rf "$marks"' EXIT
trap 'exit 130' INT TERM

# The include directions of the README's Layout section.
if scripts/check-includes.sh; then
  summary+=("includes: passed")
else
  summary+=("includes: FAILED")
  failed+=("includes")
fi
for run in $runs; do
  build=$(folderOf "$run")
  [ "$run" = fuzz ] && build=${TARVIK_FUZZ_BUILD_DIR:-build-fuzz}
  echo "==== $run: waiting for the build in $build/"
  started=$SECONDS
  # Nothing of ours to keep from the cores now: the build may have them.
  renice -n 0 -g "$builder" >/dev/null 2>&1
  while [ ! -e "$marks/$run" ]; do sleep 1; done
  # From here the build of the next run yields to the tests.
  renice -n 10 -g "$builder" >/dev/null 2>&1
  read -r buildStatus buildSeconds <"$marks/$run"
  waited=$((SECONDS - started))
  if [ "$buildStatus" -ne 0 ]; then
    tail -n 80 "$build/build-output.txt"
    failed+=("$run")
    summary+=("$run: build failed ($build/build-output.txt)")
    continue
  fi
  echo "==== $run: built in $buildSeconds s ($waited s of it waited for here)"
  built=$SECONDS

  if [ "$run" = fuzz ]; then
    if tests/fuzz/run-fuzz.sh --no-build "${TARVIK_FUZZ_SECONDS:-30}"; then
      summary+=("fuzz: passed, build $buildSeconds s (waited $waited s), fuzzing $((SECONDS - built)) s")
    else
      summary+=("fuzz: FAILED, build $buildSeconds s (waited $waited s), fuzzing $((SECONDS - built)) s")
      failed+=("fuzz")
    fi
    continue
  fi

  reports=$PWD/$build/sanitizer-reports
  rm -rf "$reports" && mkdir -p "$reports"
  setOptions "$reports" "$run"
  echo "==== $run: testing"
  # The end-to-end suite runs in the plain and the ASan run; under TSan it would take most of
  # the time and finds nothing the unit tests' threads do not show. Neither do the one-thread
  # tests timed by the program's own fixed waits, which TSan's slowdown passes.
  exclude=()
  [ "$run" = tsan ] && exclude=(-LE "e2e|fixed-waits")
  (cd "$build" && ctest -j "$jobs" --output-on-failure --timeout 300 "${exclude[@]}") 2>&1 | tee "$build/ctest-output.txt"
  status=${PIPESTATUS[0]}
  if [ "$run" = plain ]; then
    echo "==== $run: each unit-test binary whole, shuffled"
    runWholeShuffled "$build" || status=1
  fi
  unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS TSAN_OPTIONS TARVIK_TIMEOUT_SCALE TARVIK_SOAK

  for report in "$reports"/*; do
    [ -e "$report" ] || continue
    echo "==== $run: sanitizer report ${report##*/}:"
    cat "$report"
    status=1
  done

  grep -hE 'failures: [0-9]+$' "$build/Testing/Temporary/LastTest.log" 2>/dev/null | sed "s/^/$run: /"
  summary+=("$run: $([ "$status" -eq 0 ] && echo passed || echo FAILED), build $buildSeconds s (waited $waited s), tests $((SECONDS - built)) s")
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
