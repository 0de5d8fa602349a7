#!/usr/bin/env bash
# Installs, builds and runs the demo. Without a display the fluid runs
# headless for 1000 steps and prints its figures.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release
cmake --build --preset release -j"$(nproc)"
exec build/release/tools/pondsim-headless --steps 1000
