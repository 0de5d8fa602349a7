#!/usr/bin/env bash
# Stage timings of both neighbour searches in both programs, then the peak
# resident memory of a default headless run of each, then the lab solver:
# ms per step of a water pool at 10k, 100k and 1M particles on 1 and 2
# threads with its bytes per particle, and the lab driver's own report of
# one pool run. Builds the native
# programs first, with the run preset (build/run). Figures are only worth
# comparing on an otherwise quiet machine: the load average is printed with
# them.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/run
cmake --preset run > /dev/null
cmake --build --preset run -j"$(nproc)" > /dev/null

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
for variant in pondsim pondsim-wide; do
  "$build/bench/$variant-bench"
  echo
done
# Whole runs: processor seconds (user + system, less disturbed by other
# jobs than the wall clock, which is printed beside them) and peak memory.
for variant in pondsim pondsim-wide; do
  for search in grid reference; do
    out=$( { TIMEFORMAT='%R %U %S'; time "$build/headless/$variant-headless" --steps 1050 --search "$search" > "$build/bench-run.txt"; } 2>&1 )
    read -r wall user system <<< "$out"
    peak=$(sed -n 's/^peak resident memory: //p' "$build/bench-run.txt")
    cpu=$(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.2f", u + s }')
    echo "$variant-headless --steps 1050 --search $search: $cpu s of processor, $wall s wall, peak resident memory $peak"
  done
done
# The lab: the solver alone, then through its driver.
"$build/bench/pondsim-lab-bench" 10000 100000 1000000 --threads 1,2
"$build/headless/pondsim-lab-headless" --preset water --scene pool --particles 100000 --steps 200 --threads 2 \
  > "$build/bench-run.txt"
echo "pondsim-lab-headless --preset water --scene pool --particles 100000 --steps 200 --threads 2:" \
  "$(sed -n 's/^  step *//p' "$build/bench-run.txt" | awk '{print "step median " $1 " ms, p95 " $2 " ms"}'),"\
  "$(sed -n 's/^bytes per particle: //p' "$build/bench-run.txt") bytes per particle"
rm -f "$build/bench-run.txt"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
