#!/usr/bin/env bash
# End-to-end test of pondsim.exe and pondsim-wide.exe under Wine, in an Xvfb
# display of its own and a fresh Wine prefix inside the build tree.
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

build=$(realpath -m "${1:-$root/build/windows}")
work="$build/e2e"
rm -rf "$work"
mkdir -p "$work"

title="Smoothed Particle Hydrodynamics"

export WINEPREFIX="$work/prefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

stop_wineserver() { [ -d "$WINEPREFIX" ] && wineserver -k 2>/dev/null; return 0; }
E2E_CLEANUP_HOOKS+=(stop_wineserver)
trap e2e_cleanup EXIT

for program in pondsim pondsim-wide; do
  [ -f "$build/apps/$program/$program.exe" ] || e2e_fail "$build/apps/$program/$program.exe is missing"
done

e2e_start_xvfb "$work"
e2e_note "display $DISPLAY, prefix $WINEPREFIX"
probe=$(e2e_build_x11_probe "$work") || e2e_fail "cannot build x11-probe"
x86_64-w64-mingw32-g++-posix -std=c++20 -O1 -Wall -Wextra -Werror -static \
  "$here/win_probe.cpp" -o "$work/win-probe.exe" || e2e_fail "cannot build win-probe.exe"

started=$SECONDS
timeout 300 wineboot -i >"$work/wineboot.log" 2>&1 || e2e_fail "wineboot failed (see $work/wineboot.log)"
# Without a window manager, Wine otherwise waits about 2 s for one at every
# window close.
timeout 120 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >>"$work/wineboot.log" 2>&1 ||
  e2e_fail "cannot set the Managed registry value"
e2e_note "Wine prefix ready in $((SECONDS - started)) s"

shot() {  # shot NAME: picture of the client area into $dir/NAME.ppm; sets $stats
  stats=$("$probe" shot "$client" "$dir/$1.ppm") || return 1
}
pixels_moved() {  # the picture differs from $reference in at least 1 % of its pixels
  shot current || return 1
  local result differ of
  result=$("$probe" diff "$dir/$reference.ppm" "$dir/current.ppm")
  differ=$(e2e_field "$result" differ)
  of=$(e2e_field "$result" of)
  moved_figures="$result"
  ((differ * 100 >= of))
}
extent() { echo $(($(e2e_field "$1" x98) - $(e2e_field "$1" x02))); }
has_particles() { shot first && (($(e2e_field "$stats" particle) >= 1000)); }
flown_closer() {  # the particles spread 20 % wider than at the start
  shot up-held || return 1
  (($(extent "$stats") * 10 >= before_extent * 12))
}
turned() {  # a small mouse step right of the centre, then look
  # One step turns the view once, a fifth of a radian. Only if nothing has
  # turned for a while is it made again (a step within the tick of an
  # earlier movement is dropped), so that the view never turns away.
  if ((polls++ % 10 == 0)); then
    nudge=$((nudge == 10 ? 11 : 10))
    xdotool mousemove $((cx + nudge)) "$cy"
  fi
  shot turned || return 1
  local now
  now=$(e2e_field "$stats" cx) || return 1
  # Looking right moves the scene left on the screen.
  awk -v a="$now" -v b="$before_cx" 'BEGIN {exit !(a <= b - 40)}'
}
exited() { ! kill -0 "$app" 2>/dev/null; }

run_program() {
  local program=$1
  dir="$work/$program"
  mkdir -p "$dir"
  local log="$dir/stdout.log"
  e2e_note "== $program.exe"

  E2E_FAIL_FILES=("$log" "$dir/stderr.log")
  wine "$build/apps/$program/$program.exe" >"$log" 2>"$dir/stderr.log" &
  app=$!
  E2E_PIDS+=("$app")

  local top=""
  find_window() { top=$(xdotool search --all --pid "$app" --name "^$title\$" 2>/dev/null | head -n 1) && [ -n "$top" ]; }
  e2e_wait 120 "the window of $program.exe" find_window || e2e_fail "$program: no window titled \"$title\""
  e2e_wait 60 "the first allocation" e2e_log_has "$log" "Allocating 3000 particles" ||
    e2e_fail "$program: no \"Allocating 3000 particles\" in the log"
  local found
  found=$(timeout 120 wine "$work/win-probe.exe" WinMain "$title" 2>&1 | tr -d '\r') ||
    e2e_fail "$program: $found"
  e2e_note "window 0x$(printf %x "$top"): $found"
  [ "$found" = "class=WinMain title=$title visible=1" ] || e2e_fail "$program: unexpected window: $found"

  client=$(e2e_client_window "$top")
  read -r cx cy < <(e2e_window_centre "$client")
  e2e_wait 60 "particles on the screen" has_particles || e2e_fail "$program: no particles drawn: $stats"
  e2e_note "first picture: $stats"
  local size pixels
  size=$(e2e_field "$stats" size)
  pixels=$((${size%x*} * ${size#*x}))
  (($(e2e_field "$stats" black) * 2 >= pixels)) || e2e_fail "$program: background is not black: $stats"
  (($(e2e_field "$stats" other) * 200 <= pixels)) || e2e_fail "$program: colours other than particles and black: $stats"

  reference=first
  e2e_wait 30 "the particles to move" pixels_moved || e2e_fail "$program: the picture stays the same"
  e2e_note "later picture: $moved_figures changed pixels"

  # Without a window manager the keyboard follows the pointer: into the
  # window first.
  xdotool mousemove "$cx" "$cy"
  xdotool click 3
  e2e_wait 30 "a hundred more particles" e2e_log_has "$log" "Allocating 3100 particles" ||
    e2e_fail "$program: right click did not add particles"
  xdotool click 2
  e2e_wait 30 "a hundred particles fewer" e2e_log_has "$log" "Allocating 3000 particles" 2 ||
    e2e_fail "$program: middle click did not take particles away"
  e2e_note "right click then middle click: 3100, then 3000 particles"

  shot before-up
  before_extent=$(extent "$stats")
  xdotool keydown Up
  local flew=0
  e2e_wait 30 "the view to fly closer" flown_closer && flew=1
  xdotool keyup Up
  ((flew)) || e2e_fail "$program: holding the up arrow did not bring the particles closer: $stats"
  e2e_note "up arrow: particle spread $before_extent -> $(extent "$stats") pixels"

  shot before-turn
  before_cx=$(e2e_field "$stats" cx)
  xdotool mousemove "$cx" "$cy" mousedown 1
  nudge=0
  polls=0
  local turn=0
  e2e_wait 30 "the view to turn" turned && turn=1
  xdotool mouseup 1
  ((turn)) || e2e_fail "$program: a left drag did not turn the view: $stats"
  e2e_note "left drag right: particle centre x $before_cx -> $(e2e_field "$stats" cx)"

  "$probe" close "$top" || e2e_fail "$program: cannot send the close request"
  e2e_wait 60 "$program.exe to exit" exited || e2e_fail "$program: still running after the close request"
  local status=0
  wait "$app" || status=$?
  e2e_note "exit code $status"
  ((status == 0)) || e2e_fail "$program: exit code $status"

  local lines expected
  lines=$(tr -d '\r' <"$log")
  expected=$(printf '%s\n' "Allocating 500 particles" "Allocating 3000 particles" \
    "Allocating 3100 particles" "Allocating 3000 particles" "Shutting down.")
  e2e_note "log: $(printf '%s' "$lines" | tr '\n' '|')"
  [ "$lines" = "$expected" ] || e2e_fail "$program: log differs from the expected lines"
}

for program in pondsim pondsim-wide; do
  run_program "$program"
done
e2e_note "all Wine end-to-end checks passed in $((SECONDS - started)) s"
