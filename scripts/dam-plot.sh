#!/usr/bin/env bash
# The dam break against the experiment: runs pondsim-lab-headless's water dam
# with --probe front (or reads the probe lines of such a run from a file)
# and plots the surge front z/a against T = t sqrt(2g/a) beside Koshizuka &
# Oka's (1996) measured points, as a PNG. Needs gnuplot (Debian: apt-get
# install gnuplot-nox).
#
#   scripts/dam-plot.sh [OUT.png] [PROBE.txt]   (docs/dam-front.png)
#   PONDSIM_BUILD_DIR  the build whose driver runs (build/release)
#   DAM_ARGS           more options for the run ("--particles 16000 --steps 700 --threads 2")
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/docs/dam-front.png}
probe=${2:-}
command -v gnuplot >/dev/null || { echo "dam-plot.sh needs gnuplot (apt-get install gnuplot-nox)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ -z "$probe" ]; then
  driver=${PONDSIM_BUILD_DIR:-$root/build/release}/headless/pondsim-lab-headless
  [ -x "$driver" ] || { echo "no driver at $driver: build pondsim-lab-headless first" >&2; exit 2; }
  probe=$work/probe.txt
  # shellcheck disable=SC2086  # DAM_ARGS is a list of options
  "$driver" --preset water --scene dam --probe front 20 ${DAM_ARGS:---particles 16000 --steps 700 --threads 2} \
    >"$probe"
fi
# T and z/a of every probe line: "front t=... T=1.53 z=... height=... z/a=1.91 height/a=1.62".
sed -n 's/^front .* T=\([0-9.]*\) .* z\/a=\([0-9.]*\) .*/\1 \2/p' "$probe" >"$work/lab.dat"
[ -s "$work/lab.dat" ] || { echo "no probe lines in $probe" >&2; exit 1; }
particles=$(sed -n 's/^particles: \([0-9]*\) (\([0-9]*\) moving)/\2/p' "$probe")
cat >"$work/experiment.dat" <<'DATA'
0.0 1.000
0.381 1.111
0.769 1.252
1.153 1.505
1.537 1.892
1.935 2.241
2.323 2.615
2.719 3.003
3.096 3.624
DATA
gnuplot <<PLOT
set terminal pngcairo size 720,480 noenhanced font ",11"
set output "$out"
set title "Dam break: surge front, water preset (${particles:-?} particles)"
set xlabel "T = t sqrt(2g/a)"
set ylabel "front z/a"
set xrange [0:3.5]
set yrange [0.8:4.2]
set key left top
set grid
plot "$work/lab.dat" using 1:2 with lines linewidth 2 title "pondsim-lab-headless --probe front", \
     "$work/experiment.dat" using 1:2 with points pointtype 7 pointsize 1.3 title "Koshizuka & Oka (1996)"
PLOT
echo "dam plot: $out"
