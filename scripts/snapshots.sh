#!/usr/bin/env bash
# Draws the pictures in docs/: each variant after 300 steps of the default
# start (500 particles, then 3000 at set-up), 800x600, from the set-up camera.
# Needs no display and no GPU (Mesa's software renderer through EGL).
# Builds the headless drivers in PONDSIM_BUILD_DIR (build/release).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh run
build=${PONDSIM_BUILD_DIR:-build/release}
cmake --preset run -B "$build"
cmake --build "$build" -j"$(nproc)" --target pondsim-headless pondsim-wide-headless
mkdir -p docs
for variant in pondsim pondsim-wide; do
  "$build/tools/$variant-headless" --steps 300 --snapshot docs/$variant.png > /dev/null
  echo "docs/$variant.png"
done
