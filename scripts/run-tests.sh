#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: plain (build/, g++), with
# AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/, clang) and with ThreadSanitizer
# (build-tsan/, clang); the fuzz run runs the libFuzzer targets of the ASan build. Each GUI test
# runs on an Xvfb display of its own or of its binary, with or without a desktop session.
#
#   TARVIK_TEST_RUNS   the runs to make (default "plain asan tsan fuzz"; fuzz runs each target
#                      for TARVIK_FUZZ_SECONDS, default 30)
#   TARVIK_BUILD_DIR   the plain build folder; the others get -asan and -tsan (default build)
#   TARVIK_BUILD_TYPE  CMake build type (default Debug)
#   TARVIK_JOBS        build jobs, and test jobs per run (default: the number of cores)
#
# Each thing runs once where once is enough. The plain run runs every test, the soaks at full
# size, and then each unit-test binary (all but e2e_tests) once more as a whole in shuffled
# order, so a test that leans on state another test left behind fails the run, and so does any
# "JUCE Assertion" in its output (<build>/whole-shuffled/). The sanitizer runs make the soaks
# small (TARVIK_SOAK=small). The ASan run leaves out the program twins of the broken-settings
# table (the same files are read under ASan by the table's in-process rows); the TSan run leaves
# out the end-to-end suite, the broken-settings and bad-command-line tables (each row varies one
# input on the threads the other program tests run too) and the tests labelled fixed-waits,
# which the program's own half-second waits time. Every time limit in the tests comes from one
# scale (TARVIK_TIMEOUT_SCALE, read by tests/support/Timing.h): 3 in the plain run, 4 under
# ASan, 6 under TSan, since the runs share the machine.
#
# The builds (scripts/configure.sh) run one after the other in the background, at a lower
# priority while tests run; each run starts as soon as its build is done, beside the runs still
# going, and its output is shown when it ends. A build's output goes to
# <build>/build-output.txt and is shown when it fails.
#
# Any sanitizer report fails the process that made it at once, and with it its test (program
# tests see their program's reports too; tests/support/xvfb-exec.sh collects them). Test output
# lines ending in "failures: N" (the suites' counts) are repeated after each run. The plain build
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

for run in $runs; do
  case $run in plain|asan|tsan|fuzz) ;; *) echo "run-tests: unknown run '$run' (plain, asan, tsan, fuzz)" >&2; exit 2 ;; esac
done

# The build a run tests: the fuzz targets are built in the ASan build.
buildOf() { case $1 in fuzz) echo asan ;; *) echo "$1" ;; esac; }
folderOf() { case $1 in plain) echo "$base" ;; *) echo "$base-$1" ;; esac; }

# Reports from processes that no wrapper watches land here; any file fails the run.
setOptions() {
  local reports=$1
  unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS TSAN_OPTIONS TARVIK_TIMEOUT_SCALE TARVIK_SOAK
  # Builds and the other runs share the machine, and others may build on it too.
  export TARVIK_TIMEOUT_SCALE=3
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

# Builds one build's folder; its output goes to a file in that folder.
buildOne() {
  local folder log
  folder=$(folderOf "$1")
  mkdir -p "$folder"
  log=$folder/build-output.txt
  scripts/configure.sh "$1" "$folder" >"$log" 2>&1 && cmake --build "$folder" -j "$jobs" >>"$log" 2>&1
}

# The builds the runs need, in the runs' order.
builds=()
for run in $runs; do
  case " ${builds[*]} " in *" $(buildOf "$run") "*) ;; *) builds+=("$(buildOf "$run")") ;; esac
done

# Every build in turn; "<status> <seconds>" goes to marks/<build>.built when one is done.
buildAll() {
  local build started
  for build in "${builds[@]}"; do
    started=$SECONDS
    buildOne "$build"
    echo "$? $((SECONDS - started))" >"$marks/$build.tmp" && mv "$marks/$build.tmp" "$marks/$build.built"
  done
}

# One run's tests; its last line is the run's summary line.
testRun() {
  local run=$1 build reports status=0 started=$SECONDS exclude=()
  build=$(folderOf "$(buildOf "$run")")
  if [ "$run" = fuzz ]; then
    TARVIK_FUZZ_BUILD_DIR=$build tests/fuzz/run-fuzz.sh --no-build "${TARVIK_FUZZ_SECONDS:-30}" || status=1
    echo "fuzz: $([ "$status" -eq 0 ] && echo passed || echo FAILED), fuzzing $((SECONDS - started)) s"
    return $status
  fi
  reports=$PWD/$build/sanitizer-reports
  rm -rf "$reports" && mkdir -p "$reports"
  setOptions "$reports" "$run"
  case $run in
    asan) exclude=(-E '^Table/BrokenSettingsProgram[.]') ;;
    tsan) exclude=(-LE 'e2e|fixed-waits' -E '^(Table/BrokenSettings(File|Program)[.]|BadCommandLine/)') ;;
  esac
  (cd "$build" && ctest -j "$jobs" --output-on-failure --timeout 300 "${exclude[@]}") >"$build/ctest-output.txt" 2>&1 || status=1
  cat "$build/ctest-output.txt"
  if [ "$run" = plain ]; then
    echo "==== $run: each unit-test binary whole, shuffled"
    runWholeShuffled "$build" || status=1
  fi
  for report in "$reports"/*; do
    [ -e "$report" ] || continue
    echo "==== $run: sanitizer report ${report##*/}:"
    cat "$report"
    status=1
  done
  grep -hE 'failures: [0-9]+$' "$build/Testing/Temporary/LastTest.log" 2>/dev/null | sed "s/^/$run: /"
  echo "$run: $([ "$status" -eq 0 ] && echo passed || echo FAILED), tests $((SECONDS - started)) s"
  return $status
}

failed=()
marks=$(mktemp -d /tmp/tarvik-builds.XXXXXX)

# The builder and each run get a process group of their own (job control), so that an
# interrupted command ends them whole.
set -m
buildAll </dev/null >/dev/null 2>&1 &
builder=$!
set +m
groups=("$builder")
trap 'for g in "${groups[@]}"; do kill -- -"$g" 2>/dev/null; done; rm -rf "$marks"' EXIT
trap 'exit 130' INT TERM

# The include directions of the README's Layout section.
if scripts/check-includes.sh; then
  summary=("includes: passed")
else
  summary=("includes: FAILED")
  failed+=("includes")
fi

# Starts each run once its build is there, and shows each run's output once it has ended.
declare -A state built ended
for run in $runs; do state[$run]=waiting; done
pending=$(echo $runs | wc -w)
while [ "$pending" -gt 0 ]; do
  for run in $runs; do
    build=$(buildOf "$run")
    case ${state[$run]} in
      waiting)
        [ -e "$marks/$build.built" ] || continue
        read -r buildStatus buildSeconds <"$marks/$build.built"
        if [ "$buildStatus" -ne 0 ]; then
          tail -n 80 "$(folderOf "$build")/build-output.txt"
          ended[$run]="$run: build failed ($(folderOf "$build")/build-output.txt)"
          failed+=("$run")
          state[$run]=done
          pending=$((pending - 1))
          continue
        fi
        built[$run]=$buildSeconds
        echo "==== $run: $build built in $buildSeconds s; testing from $SECONDS s"
        set -m
        ( testRun "$run" >"$marks/$run.out" 2>&1; echo $? >"$marks/$run.status" ) </dev/null &
        groups+=("$!")
        set +m
        state[$run]=running
        ;;
      running)
        [ -e "$marks/$run.status" ] || continue
        echo "==== $run: ended at $SECONDS s"
        cat "$marks/$run.out"
        ended[$run]="$(tail -n 1 "$marks/$run.out"), build ${built[$run]} s, ended at $SECONDS s"
        [ "$(cat "$marks/$run.status")" = 0 ] || failed+=("$run")
        state[$run]=done
        pending=$((pending - 1))
        ;;
    esac
  done
  # The builds yield to tests while any run; when none runs, nothing of ours needs the cores, and
  # a lower priority would only hand them to whatever else the machine runs. Only root may raise
  # the priority again, so others keep the builds at the usual one.
  case " ${state[*]} " in *" running "*) priority=10 ;; *) priority=0 ;; esac
  [ "$(id -u)" -eq 0 ] || priority=0
  if [ "$priority" != "${builderPriority:-0}" ]; then
    renice -n "$priority" -g "$builder" >/dev/null 2>&1
    builderPriority=$priority
  fi
  sleep 1
done

echo "==== runs (all ended at $SECONDS s)"
for run in $runs; do
  summary+=("${ended[$run]}")
  [ "$run" = fuzz ] || last=$(folderOf "$run")
done
printf '%s\n' "${summary[@]}"
# CTest's own summary of the last run closes the output.
if [ -n "${last:-}" ] && [ -f "$last/ctest-output.txt" ]; then
  sed -n '/tests passed, /,$p' "$last/ctest-output.txt"
fi
[ ${#failed[@]} -eq 0 ]
