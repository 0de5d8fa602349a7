#!/usr/bin/env bash
# Stage timings of both neighbour searches in both programs, then the peak
# resident memory of a default headless run of each, then the lab solver:
# a water pool at 10k, 100k and 1M particles on 1 and 2 threads (ms per
# step, median and p95, processor time, ns per particle-step, bytes per
# particle, the stage split and the load, for both of its paths), and the
# lab driver's own report of pool runs. Builds the native
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
# The lab: the solver alone (every size and thread count a process of its
# own, the list path beside the cell-ordered one), under the water preset's
# solver and then the weakly compressible one; then its driver on the water
# pool of 100 000 particles, 200 steps, on 1 and 2 threads.
"$build/bench/pondsim-lab-bench" 10000 100000 1000000 --threads 1,2
"$build/bench/pondsim-lab-bench" 10000 100000 1000000 --threads 1,2 --no-lists --set pressureSolver=wcsph
for threads in 1 2; do
  load=$(cut -d' ' -f1 /proc/loadavg)
  "$build/headless/pondsim-lab-headless" --preset water --scene pool --particles 100000 --steps 200 \
    --threads "$threads" > "$build/bench-run.txt"
  particles=$(sed -n 's/^particles: \([0-9]*\).*/\1/p' "$build/bench-run.txt")
  peak=$(sed -n 's/^peak resident memory: \([0-9]*\) kB/\1/p' "$build/bench-run.txt")
  echo "pondsim-lab-headless --preset water --scene pool --particles 100000 --steps 200 --threads $threads:" \
    "$(sed -n 's/^  step *//p' "$build/bench-run.txt" | awk '{print "step median " $1 " ms, p95 " $2 " ms"}'),"\
    "$(awk -v k="$peak" -v n="$particles" 'BEGIN { printf "%.0f", k * 1024 / n }') bytes per particle (peak resident)," \
    "load $load to $(cut -d' ' -f1 /proc/loadavg)"
done
rm -f "$build/bench-run.txt"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
