#!/usr/bin/env bash
# End-to-end test of pondsim.exe and pondsim-wide.exe under Wine, in an Xvfb
# display of its own, in the build tree's Wine prefix (build/wine-prefix).
#
# Usage: tests/e2e/wine_e2e.sh [build dir with apps/*/*.exe]  (build/windows)
#
# For each program: the window of class "WinMain" titled "Smoothed Particle
# Hydrodynamics" appears; the log shows the first allocation; the picture is
# blue-cyan particles on black and moves on by itself; a right click adds
# and a middle click takes away a hundred particles; holding the up arrow
# flies closer; a left-button drag turns the view; the window manager's
# close request ends the program with "Shutting down." and exit code 0.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
# shellcheck source=tests/e2e/lib.sh
source "$here/lib.sh"
# shellcheck source=tests/e2e/scenario.sh
source "$here/scenario.sh"

build=$(realpath -m "${1:-$root/build/windows}")
title=$E2E_TITLE
started=$SECONDS
e2e_start "$build" e2e .exe
e2e_note "display $DISPLAY"

run_program() {
  local program=$1
  e2e_note "== $program.exe"
  e2e_launch_exe "$program" "$build/apps/$program/$program.exe"
  e2e_await_scene "$program.exe"
  local found
  found=$(timeout "$(e2e_seconds 60)" wine "$win_probe" WinMain "$title" 2>&1 | tr -d '\r') ||
    e2e_fail "$program: $found"
  e2e_note "window 0x$(printf %x "$top"): $found"
  [ "${found% client=*}" = "class=WinMain title=$title visible=1" ] || e2e_fail "$program: unexpected window: $found"

  e2e_scenario "$program.exe" "$app" "$log" "$top" "$dir" "$probe"
}

for program in pondsim pondsim-wide; do
  run_program "$program"
done
e2e_note "all Wine end-to-end checks passed in $((SECONDS - started)) s"
