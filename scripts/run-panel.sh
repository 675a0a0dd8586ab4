#!/usr/bin/env bash
# Installs what is missing, builds the panel and starts it with the simulated TARVIK
# attached (TARVIK_SIM_ATTACHED=0 starts it without). Arguments go to the panel.
# Without a display it runs on a virtual one (Xvfb).
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh
build=${TARVIK_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${TARVIK_BUILD_TYPE:-Debug} \
  -DTARVIK_WERROR=ON -DTARVIK_SANITIZE=${TARVIK_SANITIZE:-} >/dev/null
cmake --build "$build" -j "$(nproc)" --target TarvikPanel
panel=$(find "$build/src/app/TarvikPanel_artefacts" -type f -name "Tarvik Panel" -perm -u+x | head -n 1)
if [ -z "$panel" ]; then
  echo "run-panel: the built program was not found under $build/src/app" >&2
  exit 1
fi
export TARVIK_SIM_ATTACHED=${TARVIK_SIM_ATTACHED:-1}
if [ -n "${DISPLAY:-}" ]; then
  exec "$panel" "$@"
fi
exec tests/support/xvfb-exec.sh "$panel" "$@"
