#!/usr/bin/env bash
# Makes the moving pictures in docs/: the first 10 seconds of each program
# from its default start (500 particles, then 3000 at set-up), from the
# set-up camera, as an animated WebP that loops. One frame per step at the
# programs' own pace of 15.625 steps a second (one step per 64 ms tick).
# Needs ffmpeg, which the test set installs (scripts/install-deps.sh test);
# no display, no GPU. Builds the headless drivers with the run preset
# (build/run).
#
#   scripts/animation.sh [WIDTHxHEIGHT]   (400x300)
set -euo pipefail
cd "$(dirname "$0")/.."

size=${1:-400x300}
command -v ffmpeg >/dev/null || { echo "needs ffmpeg: apt-get install ffmpeg" >&2; exit 2; }
scripts/install-deps.sh run
build=build/run
cmake --preset run
cmake --build --preset run -j"$(nproc)" >/dev/null
frames=$(mktemp -d)
trap 'rm -rf "$frames"' EXIT
mkdir -p docs
for variant in pondsim pondsim-wide; do
  rm -rf "${frames:?}/$variant"
  "$build/headless/$variant-headless" --steps 156 --every 1 --size "$size" --record "$frames/$variant" >/dev/null
  ffmpeg -hide_banner -loglevel error -y -framerate 125/8 -pattern_type glob -i "$frames/$variant/frame-*.png" \
    -c:v libwebp_anim -lossless 0 -q:v 70 -loop 0 "docs/$variant.webp"
  echo "docs/$variant.webp: $(du -k "docs/$variant.webp" | cut -f1) kB"
done
