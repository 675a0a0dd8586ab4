#!/usr/bin/env bash
# A display shared by the tests of one binary, as CTest fixtures start and end it:
#   shared-display.sh start FILE   starts Xvfb and writes ":N" to FILE
#   shared-display.sh stop FILE    ends it
# tests/support/xvfb-exec.sh runs a test on it when TARVIK_SHARED_DISPLAY names FILE. A keeper
# holds the server in a process group of its own and ends it once CTest (the caller's parent) has
# gone, so that an interrupted run leaves no server behind.
set -u
file=$2

case $1 in
  start)
    rm -f "$file" "$file.keeper"
    fifo=$(mktemp -u /tmp/tarvik-shared-xvfb.XXXXXX)
    mkfifo "$fifo"
    owner=$PPID
    setsid bash -c '
      echo $$ >"$2.keeper"
      Xvfb -displayfd 3 -screen 0 1440x900x24 -nolisten tcp 3>"$1" 2>/dev/null &
      server=$!
      while kill -0 "$3" 2>/dev/null && kill -0 "$server" 2>/dev/null && [ -e "$2.keeper" ]; do sleep 1; done
      kill "$server" 2>/dev/null
      wait "$server" 2>/dev/null
    ' _ "$fifo" "$file" "$owner" </dev/null >/dev/null 2>&1 &
    scale=${TARVIK_TIMEOUT_SCALE:-1}
    scale=${scale%%.*}
    [ "${scale:-0}" -ge 1 ] 2>/dev/null || scale=1
    read -r -t $((20 * scale)) number <"$fifo"
    rm -f "$fifo"
    if [ -z "${number:-}" ]; then
      echo "shared-display: Xvfb did not start" >&2
      exit 1
    fi
    echo ":$number" >"$file"
    echo "shared display :$number"
    ;;
  stop)
    keeper=$(cat "$file.keeper" 2>/dev/null)
    rm -f "$file" "$file.keeper"
    [ -n "$keeper" ] && kill -- -"$keeper" 2>/dev/null
    exit 0
    ;;
esac
