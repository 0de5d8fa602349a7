#!/usr/bin/env bash
# Installs, builds and runs the demo: the window on a desktop; without a
# display the fluid runs headless for 1000 steps and prints its figures.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release
cmake --build --preset release -j"$(nproc)"
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec build/release/apps/pondsim/pondsim
fi
echo "No X display reachable (DISPLAY='${DISPLAY:-}'): running the fluid headless instead."
exec build/release/tools/pondsim-headless --steps 1000
