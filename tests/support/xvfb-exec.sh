#!/usr/bin/env bash
# Runs one command on a private Xvfb display. Xvfb picks a free display number
# itself (-displayfd), so any number of these can run side by side.
#
# In a sanitizer run (any of ASAN_OPTIONS, UBSAN_OPTIONS, TSAN_OPTIONS set) every report,
# from the test binary or from a program it starts, goes to a folder of this run's own;
# any report there fails the test and is copied to the test's output.
set -u

reports=""
if [ -n "${ASAN_OPTIONS:-}${UBSAN_OPTIONS:-}${TSAN_OPTIONS:-}" ]; then
  reports=$(mktemp -d /tmp/tarvik-sanitizer.XXXXXX)
  # A later log_path wins over one set earlier in the same string.
  export ASAN_OPTIONS="${ASAN_OPTIONS:-}:log_path=$reports/asan"
  export UBSAN_OPTIONS="${UBSAN_OPTIONS:-}:log_path=$reports/ubsan"
  export TSAN_OPTIONS="${TSAN_OPTIONS:-}:log_path=$reports/tsan"
fi

run() {
  if [ -n "${TARVIK_TEST_USE_DISPLAY:-}" ] && [ -n "${DISPLAY:-}" ]; then
    "$@"
    return
  fi
  # The binary's shared display (tests/support/shared-display.sh), while its keeper runs.
  if [ -n "${TARVIK_SHARED_DISPLAY:-}" ] && [ -s "$TARVIK_SHARED_DISPLAY" ] \
     && kill -0 "$(cat "$TARVIK_SHARED_DISPLAY.keeper" 2>/dev/null)" 2>/dev/null; then
    DISPLAY=$(cat "$TARVIK_SHARED_DISPLAY") "$@"
    return
  fi
  fifo=$(mktemp -u /tmp/tarvik-xvfb.XXXXXX)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1440x900x24 -nolisten tcp 3>"$fifo" 2>/dev/null &
  xvfb_pid=$!
  # The tests' time scale (tests/support/Timing.h) gives a loaded run more time here too.
  scale=${TARVIK_TIMEOUT_SCALE:-1}
  scale=${scale%%.*}
  [ "${scale:-0}" -ge 1 ] 2>/dev/null || scale=1
  read -r -t $((20 * scale)) display_number <"$fifo"
  rm -f "$fifo"
  if [ -z "${display_number:-}" ]; then
    echo "xvfb-exec: Xvfb did not start" >&2
    kill "$xvfb_pid" 2>/dev/null
    return 1
  fi
  DISPLAY=":$display_number" "$@"
  status=$?
  kill "$xvfb_pid" 2>/dev/null
  wait "$xvfb_pid" 2>/dev/null
  return $status
}

run "$@"
status=$?

if [ -n "$reports" ]; then
  for report in "$reports"/*; do
    [ -e "$report" ] || continue
    echo "xvfb-exec: sanitizer report ${report##*/}:" >&2
    cat "$report" >&2
    [ $status -ne 0 ] || status=1
  done
  rm -rf "$reports"
fi
exit $status
