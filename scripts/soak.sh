#!/usr/bin/env bash
# Soak: each program's scene, headless, for many steps at 3000 and at 4100
# particles (4100 is more than the one filled cell holds). After the box step
# of every tick no position may be non-finite or outside the box, and the
# resident memory must stay flat: after the first tenth of the run (when the
# pages the run needs have been touched) it may grow by at most 1 MB.
#
#   scripts/soak.sh [steps]   (100000)
#   scripts/soak.sh STEPS WINDOWS_BUILD
#
# Runs the drivers of the native build in PONDSIM_BUILD_DIR (build/release),
# or with a Windows build (build/windows) its .exe drivers under Wine, in
# the prefix build/wine-prefix; resident memory is then the working set.
#
# CI runs a shortened form from scripts/test.sh. Prints one summary line per
# run; the full output of each run is kept in BUILD/soak/.
set -euo pipefail
cd "$(dirname "$0")/.."

steps=${1:-100000}
build=${PONDSIM_BUILD_DIR:-build/release}
[[ "$steps" =~ ^[1-9][0-9]*$ ]] || { echo "steps must be a positive whole number" >&2; exit 2; }
every=$((steps / 20 > 0 ? steps / 20 : 1))
baseline_step=$((steps / 10))
runner=()
suffix=
if [ -n "${2:-}" ]; then
  build=$2
  suffix=.exe
  # shellcheck source=tests/wine/wine.sh
  source tests/wine/wine.sh
  wine_env "$PWD/build/wine-prefix"
  mkdir -p "$build/soak"
  wine_prefix_ready "$build/soak/wine.log" || { echo "cannot make the Wine prefix" >&2; exit 1; }
  wine_hold_server
  trap wine_stop_server EXIT
  # Nothing is drawn, so no display is needed.
  runner=(env DISPLAY= wine)
fi
out="$build/soak"
mkdir -p "$out"

status=0
for program in pondsim pondsim-wide; do
  driver="$build/headless/$program-headless$suffix"
  [ -f "$driver" ] || { echo "$driver is missing (build $build first)" >&2; exit 1; }
  for particles in 3000 4100; do
    log="$out/$program-$particles.log"
    rc=0
    "${runner[@]}" "$driver" --steps "$steps" --particles "$particles" --check "$every" >"$log" 2>&1 </dev/null ||
      rc=$?
    sed -i 's/\r$//' "$log"
    summary=$(sed -n 's/^soak: //p' "$log")
    rss=$(sed -n 's/^soak rss kB: //p' "$log")
    # Resident memory at the first check from a tenth of the run on, and at
    # the end.
    read -r base end < <(awk -v from="$baseline_step" '
      /^check at step / {
        step = $4 + 0; sub(":", "", step)
        for (i = 1; i <= NF; ++i) if ($i == "rss") rss = $(i + 1)
        if (base == "" && step >= from) base = rss
        last = rss
      }
      END { print base + 0, last + 0 }' "$log")
    growth=$((end - base))
    line="$program at $particles: $summary; rss $rss; growth after step $baseline_step: $growth kB"
    if [ "$rc" -ne 0 ] || [ -z "$summary" ]; then
      line="$line; FAILED (exit $rc, see $log)"
      status=1
    elif ! grep -q 'non-finite 0, outside the box 0 ' <<<"$summary "; then
      line="$line; FAILED (positions, see $log)"
      status=1
    elif [ "$growth" -gt 1024 ]; then
      line="$line; FAILED (memory grew, see $log)"
      status=1
    fi
    echo "$line"
  done
done
exit "$status"
