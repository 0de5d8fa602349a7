# shellcheck shell=bash
# The end-to-end scenario of one running program, the same for the native
# programs and for the .exe files under Wine. Sourced after lib.sh.
#
# e2e_scenario NAME PID LOG TOPLEVEL DIR PROBE: the program NAME runs as
# PID, writes its log lines to LOG and shows the window TOPLEVEL; pictures
# go to DIR, taken with the x11-probe at PROBE. Checks, in order: particles
# (blue to cyan) on black; a later picture that differs; a right click
# logging "Allocating 3100 particles" and a middle click then "Allocating
# 3000 particles"; holding the up arrow flies closer; a left-button drag
# turns the view; the window manager's close request ends the program with
# exit code 0 and exactly the expected log.

e2e_shot() {  # e2e_shot NAME: picture of the client area into $dir/NAME.ppm; sets $stats
  stats=$("$probe" shot "$client" "$dir/$1.ppm") || return 1
}
e2e_pixels_moved() {  # the picture differs from $reference in at least 1 % of its pixels
  e2e_shot current || return 1
  local result differ of
  result=$("$probe" diff "$dir/$reference.ppm" "$dir/current.ppm")
  differ=$(e2e_field "$result" differ)
  of=$(e2e_field "$result" of)
  moved_figures="$result"
  ((differ * 100 >= of))
}
e2e_extent() { echo $(($(e2e_field "$1" x98) - $(e2e_field "$1" x02))); }
e2e_has_particles() { e2e_shot first && (($(e2e_field "$stats" particle) >= 1000)); }
e2e_flown_closer() {  # the particles spread 20 % wider than at the start
  e2e_shot up-held || return 1
  (($(e2e_extent "$stats") * 10 >= before_extent * 12))
}
e2e_turned() {  # a small mouse step right of the centre, then look
  # One step turns the view once, a fifth of a radian. Only if nothing has
  # turned for a while is it made again (a step within the tick of an
  # earlier movement is dropped), so that the view never turns away.
  if ((polls++ % 10 == 0)); then
    nudge=$((nudge == 10 ? 11 : 10))
    xdotool mousemove $((cx + nudge)) "$cy"
  fi
  e2e_shot turned || return 1
  local now
  now=$(e2e_field "$stats" cx) || return 1
  # Looking right moves the scene left on the screen.
  awk -v a="$now" -v b="$before_cx" 'BEGIN {exit !(a <= b - 40)}'
}

e2e_scenario() {
  local program=$1 log=$3 top=$4
  app=$2
  dir=$5
  probe=$6

  client=$(e2e_client_window "$top")
  read -r cx cy < <(e2e_window_centre "$client")
  e2e_wait 60 "particles on the screen" e2e_has_particles || e2e_fail "$program: no particles drawn: $stats"
  e2e_note "first picture: $stats"
  local size pixels
  size=$(e2e_field "$stats" size)
  pixels=$((${size%x*} * ${size#*x}))
  (($(e2e_field "$stats" black) * 2 >= pixels)) || e2e_fail "$program: background is not black: $stats"
  (($(e2e_field "$stats" other) * 200 <= pixels)) || e2e_fail "$program: colours other than particles and black: $stats"

  reference=first
  e2e_wait 30 "the particles to move" e2e_pixels_moved || e2e_fail "$program: the picture stays the same"
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

  e2e_shot before-up
  before_extent=$(e2e_extent "$stats")
  xdotool keydown Up
  local flew=0
  e2e_wait 30 "the view to fly closer" e2e_flown_closer && flew=1
  xdotool keyup Up
  ((flew)) || e2e_fail "$program: holding the up arrow did not bring the particles closer: $stats"
  e2e_note "up arrow: particle spread $before_extent -> $(e2e_extent "$stats") pixels"

  e2e_shot before-turn
  before_cx=$(e2e_field "$stats" cx)
  xdotool mousemove "$cx" "$cy" mousedown 1
  nudge=0
  polls=0
  local turn=0
  e2e_wait 30 "the view to turn" e2e_turned && turn=1
  xdotool mouseup 1
  ((turn)) || e2e_fail "$program: a left drag did not turn the view: $stats"
  e2e_note "left drag right: particle centre x $before_cx -> $(e2e_field "$stats" cx)"

  "$probe" close "$top" || e2e_fail "$program: cannot send the close request"
  e2e_wait 60 "$program to exit" e2e_exited || e2e_fail "$program: still running after the close request"
  local status
  e2e_exit_status
  e2e_note "exit code $status"
  ((status == 0)) || e2e_fail "$program: exit code $status"

  local lines expected
  lines=$(tr -d '\r' <"$log")
  expected=$(printf '%s\n' "Allocating 500 particles" "Allocating 3000 particles" \
    "Allocating 3100 particles" "Allocating 3000 particles" "Shutting down.")
  e2e_note "log: $(printf '%s' "$lines" | tr '\n' '|')"
  [ "$lines" = "$expected" ] || e2e_fail "$program: log differs from the expected lines"
}
