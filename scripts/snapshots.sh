#!/usr/bin/env bash
# Draws the pictures in docs/: each variant after 300 steps of the default
# start (500 particles, then 3000 at set-up), 800x600, from the set-up camera.
# Needs no display and no GPU (Mesa's software renderer through EGL).
# Builds the headless drivers with the run preset (build/run).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh run
build=build/run
cmake --preset run
cmake --build --preset run -j"$(nproc)" >/dev/null
mkdir -p docs
for variant in pondsim pondsim-wide; do
  "$build/headless/$variant-headless" --steps 300 --snapshot docs/$variant.png > /dev/null
  echo "docs/$variant.png"
done
