#!/usr/bin/env bash
# Installs, builds and runs the demo: the window on a desktop; without a
# display the fluid runs headless for 1000 steps and prints its figures.
#
# Usage: scripts/run.sh [pondsim|pondsim-wide|pondsim-lab]   (pondsim)
set -euo pipefail
cd "$(dirname "$0")/.."
program=${1:-pondsim}
case "$program" in
  pondsim | pondsim-wide | pondsim-lab) ;;
  *) echo "usage: scripts/run.sh [pondsim|pondsim-wide|pondsim-lab]" >&2; exit 2 ;;
esac

# Only what the programs need: no test toolchain, and no tests built, in a
# build folder of its own (build/run).
build=build/run
scripts/install-deps.sh run
cmake --preset run
cmake --build --preset run -j"$(nproc)"
# xdpyinfo comes with the test set; without it a set DISPLAY is trusted.
if [ -n "${DISPLAY:-}" ] && { ! command -v xdpyinfo >/dev/null || xdpyinfo >/dev/null 2>&1; }; then
  exec "$build/apps/$program/$program"
fi
echo "No X display reachable (DISPLAY='${DISPLAY:-}'): running the fluid headless instead."
exec "$build/headless/$program-headless" --steps 1000
