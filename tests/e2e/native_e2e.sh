#!/usr/bin/env bash
# End-to-end test of the native pondsim and pondsim-wide (the shell over the
# Linux layer), in an Xvfb display of its own.
#
# Usage: tests/e2e/native_e2e.sh [build dir with apps/*/*]  (build/release)
#
# For each program, the scenario of scenario.sh after the window of class
# "WinMain" titled "Smoothed Particle Hydrodynamics" has appeared and the
# log has shown the first allocation. Then, through the layer's fault
# switch PONDSIM_FAIL: a failed RegisterClassA shows its one message box and
# exits 0 with no window; a failed ChoosePixelFormat shows exactly one box,
# "ChoosePixelFormat failed" (a dialog window, dismissed here with Enter),
# and the program runs on and closes with 0; a failed UnregisterClassA shows
# "Unable to unregister class." after the close and exits 1.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
# shellcheck source=tests/e2e/lib.sh
source "$here/lib.sh"
# shellcheck source=tests/e2e/scenario.sh
source "$here/scenario.sh"

build=$(realpath -m "${1:-$root/build/release}")
title=$E2E_TITLE
started=$SECONDS
e2e_start "$build" e2e-native
e2e_note "display $DISPLAY"

# launch PROGRAM NAME [VAR=VALUE...]: starts the program with its logs in
# $work/NAME; sets $app, $dir and $log.
launch() {
  local program=$1 name=$2
  shift 2
  e2e_launch "$name" env "$@" "$build/apps/$program/$program"
}

# box_lines: the message boxes the program showed, one line each (the
# layer writes every box's text on standard error as well).
box_lines() { grep -F ': message box "' "$dir/stderr.log" || true; }

# run_to_close WHAT STATUS BOX: the window comes up with its scene, the
# close request ends the program with exit code STATUS, "Shutting down."
# is the last log line and BOX is the one message box line it showed.
run_to_close() {
  local what=$1 expected=$2 box=$3 status=0
  e2e_wait 60 "the window" e2e_find_window || e2e_fail "$what: no window"
  e2e_wait 60 "the first allocation" e2e_log_has "$log" "Allocating 3000 particles" ||
    e2e_fail "$what: the scene was not set up"
  "$probe" close "$top" || e2e_fail "$what: cannot send the close request"
  e2e_wait 60 "the program to exit" e2e_exited || e2e_fail "$what: still running after the close request"
  wait "$app" || status=$?
  e2e_note "exit code $status; $(box_lines)"
  ((status == expected)) || e2e_fail "$what: exit code $status"
  [ "$(box_lines)" = "$box" ] || e2e_fail "$what: message boxes: $(box_lines)"
  [ "$(tail -n 1 "$log")" = "Shutting down." ] || e2e_fail "$what: last log line: $(tail -n 1 "$log")"
}

for program in pondsim pondsim-wide; do
  e2e_note "== $program"
  launch "$program" "$program" PONDSIM_MESSAGEBOX=stderr
  e2e_wait 60 "the window of $program" e2e_find_window || e2e_fail "$program: no window titled \"$title\""
  class=$(xprop -id "$top" WM_CLASS)
  e2e_note "window $(printf '0x%x' "$top"): $class"
  [ "$class" = "WM_CLASS(STRING) = \"$program\", \"WinMain\"" ] || e2e_fail "$program: window class is not WinMain: $class"
  e2e_wait 60 "the first allocation" e2e_log_has "$log" "Allocating 3000 particles" ||
    e2e_fail "$program: no \"Allocating 3000 particles\" in the log"
  e2e_scenario "$program" "$app" "$log" "$top" "$dir" "$probe"
  [ -z "$(box_lines)" ] || e2e_fail "$program: message boxes in a normal run: $(box_lines)"
done

e2e_note "== failed RegisterClassA"
launch pondsim register-fails PONDSIM_FAIL=RegisterClassA PONDSIM_MESSAGEBOX=stderr
e2e_wait 60 "the program to give up" e2e_exited || e2e_fail "still running without a window class"
status=0
wait "$app" || status=$?
e2e_note "exit code $status; $(box_lines)"
((status == 0)) || e2e_fail "failed class registration: exit code $status"
[ "$(box_lines)" = 'pondsim: message box "WinMain": Unable to register window class.' ] ||
  e2e_fail "failed class registration: message boxes: $(box_lines)"
[ ! -s "$log" ] || e2e_fail "failed class registration: the scene was made: $(cat "$log")"

e2e_note "== failed ChoosePixelFormat"
launch pondsim pixel-format-fails PONDSIM_FAIL=ChoosePixelFormat
# The box comes up during window creation and holds it until dismissed.
e2e_wait 60 "the message box" e2e_find_window Error || e2e_fail "failed pixel format: no message box window"
box_class=$(xprop -id "$top" WM_CLASS)
e2e_note "message box $(printf '0x%x' "$top"): $box_class"
read -r bx by < <(e2e_window_centre "$top")
xdotool mousemove "$bx" "$by"
box_gone() { ! xdotool search --all --pid "$app" --name '^Error$' >/dev/null 2>&1; }
pressed_enter() { xdotool key Return; sleep 0.2; box_gone; }
e2e_wait 30 "the message box to be dismissed" pressed_enter || e2e_fail "failed pixel format: the box stays"
run_to_close "failed pixel format" 0 'pondsim: message box "Error": ChoosePixelFormat failed'

e2e_note "== failed UnregisterClassA"
# The box closes by itself after half a second.
launch pondsim unregister-fails PONDSIM_FAIL=UnregisterClassA PONDSIM_MESSAGEBOX=500
run_to_close "failed unregistration" 1 'pondsim: message box "WinMain": Unable to unregister class.'

e2e_note "all native end-to-end checks passed in $((SECONDS - started)) s"
