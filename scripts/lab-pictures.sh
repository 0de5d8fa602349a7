#!/usr/bin/env bash
# Makes the lab's pictures in docs/: the window with its panel during a dam
# break (docs/lab-window.png, in an Xvfb display of its own) and the dam
# break's first moments as an animated WebP (docs/lab-dam.webp, drawn
# offscreen by the headless driver, coloured by speed). Needs the test set
# (Xvfb, xdotool, ImageMagick, ffmpeg: scripts/install-deps.sh test); no
# display, no GPU. Builds with the run preset (build/run).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/install-deps.sh test
cmake --preset run >/dev/null
cmake --build --preset run -j"$(nproc)" >/dev/null
build=$root/build/run
work=$(mktemp -d)
# shellcheck source=tests/e2e/lib.sh
source tests/e2e/lib.sh
E2E_CLEANUP_HOOKS+=(remove_work)
remove_work() { rm -rf "$work"; }
trap e2e_cleanup EXIT
mkdir -p docs

# The dam break, its first second or so, a frame every 10 steps.
"$build/headless/pondsim-lab-headless" --preset water --scene dam --particles 8000 --steps 500 --every 10 \
  --colour speed --size 480x320 --record "$work/frames" >/dev/null
ffmpeg -hide_banner -loglevel error -y -framerate 12 -pattern_type glob -i "$work/frames/frame-*.png" \
  -c:v libwebp_anim -lossless 0 -q:v 70 -loop 0 docs/lab-dam.webp
echo "docs/lab-dam.webp: $(du -k docs/lab-dam.webp | cut -f1) kB"

# The window: the same dam, coloured by speed, a second into its run.
e2e_start_xvfb "$work"
e2e_launch lab "$build/apps/pondsim-lab/pondsim-lab" --preset water --scene dam --particles 8000
e2e_wait 60 "the panel" grep -q "^lab panel: " "$log" || e2e_fail "the lab's panel was not drawn"
top=$(xdotool search --all --pid "$app" --name "" 2>/dev/null | head -n 1)
xdotool mousemove 600 300 key c
e2e_wait 30 "the colour by density" grep -q "^lab colour: density" "$log" || e2e_fail "no colour change"
xdotool key c
e2e_wait 30 "the colour by pressure" grep -q "^lab colour: pressure" "$log" || e2e_fail "no colour change"
xdotool key c
e2e_wait 30 "the colour by speed" grep -q "^lab colour: speed" "$log" || e2e_fail "no colour change"
# Some hundreds of steps into the break, as the panel's figures say.
for _ in $(seq 60); do
  xdotool key h
  sleep 0.5
  step=$(sed -n 's/^lab asked: step \([0-9]*\) .*/\1/p' "$log" | tail -n 1)
  ((${step:-0} >= 600)) && break
done
import -window "$top" docs/lab-window.png
echo "docs/lab-window.png: $(du -k docs/lab-window.png | cut -f1) kB"
