#!/usr/bin/env bash
# Runs one command on a private Xvfb display. Xvfb picks a free display number
# itself (-displayfd), so any number of these can run side by side.
set -u
if [ -n "${TARVIK_TEST_USE_DISPLAY:-}" ] && [ -n "${DISPLAY:-}" ]; then
  exec "$@"
fi
fifo=$(mktemp -u /tmp/tarvik-xvfb.XXXXXX)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1440x900x24 -nolisten tcp 3>"$fifo" 2>/dev/null &
xvfb_pid=$!
read -r -t 20 display_number <"$fifo"
rm -f "$fifo"
if [ -z "${display_number:-}" ]; then
  echo "xvfb-exec: Xvfb did not start" >&2
  kill "$xvfb_pid" 2>/dev/null
  exit 1
fi
export DISPLAY=":$display_number"
"$@"
status=$?
kill "$xvfb_pid" 2>/dev/null
wait "$xvfb_pid" 2>/dev/null
exit $status
