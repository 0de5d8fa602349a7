#!/usr/bin/env bash
# End-to-end test of the lab's window, natively (the lab over the Linux
# layer) or, with a second argument .exe, the Windows program under Wine,
# in an Xvfb display of its own.
#
# Usage: tests/e2e/lab_e2e.sh [build dir] [.exe]
#
# The window opens on the demo's start with the panel; Space pauses (the
# state stays), '.' steps once, R goes back to the start; a hundred steps
# give what the headless driver gives for a hundred; a viscosity typed into
# the panel's slider changes the fluid, one typed past its range is held to
# it, and after a preset change in the panel an edit changes that one value;
# C changes the colours; the panel's text fits it; the close request ends it
# with 0. Steps slower than the beat leave the window drawing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
# shellcheck source=tests/e2e/lib.sh
source "$here/lib.sh"

build=$(realpath -m "${1:-$root/build/release}")
suffix=${2:-}
program="$build/apps/pondsim-lab/pondsim-lab$suffix"
[ -x "$program" ] || [ -f "$program" ] || e2e_fail "$program is missing"
work="$build/e2e-lab$suffix"
rm -rf "$work"
mkdir -p "$work"
# The program writes its record folder where it starts: in here.
cd "$work"
trap e2e_cleanup EXIT
e2e_start_xvfb "$work"
probe=$(e2e_build_x11_probe "$work") || e2e_fail "cannot build x11-probe"
if [ "$suffix" = .exe ]; then
  e2e_wine_prefix
  e2e_launch_exe lab "$program"
else
  e2e_launch lab "$program"
fi

title="pondsim lab"
e2e_wait 120 "the lab's window" e2e_find_window "$title" || e2e_fail "no window titled \"$title\""
# state_line WHY: the last "lab WHY: step N hash H" line, as "N H".
state_line() { tr -d '\r' <"$log" | sed -n "s/^lab $1: step \([0-9]*\) hash \([0-9a-f]*\)\$/\1 \2/p" | tail -n 1; }
# await_state WHY N: waits for a "lab WHY" line at step N; sets $hash.
await_state() {
  e2e_wait 60 "lab $1 at step $2" state_is "$1" "$2" || e2e_fail "no \"lab $1\" at step $2: $(state_line "$1")"
  hash=$(state_line "$1")
  hash=${hash#* }
}
state_is() { [ "$(state_line "$1" | cut -d' ' -f1)" = "$2" ]; }
# await_start: the run's start, and the window shown with the keyboard on it
# (the start is said before the window is mapped).
await_start() {
  await_state start 0
  e2e_wait 60 "the keyboard to reach the window" e2e_takes_keys "$top" || e2e_fail "the window never took the keyboard"
}

await_start
start_hash=$hash
e2e_wait 60 "the panel's layout" grep -q "^lab panel: viscosity slider" "$log" || e2e_fail "the panel was not laid out"
read -r sx0 sy0 sx1 sy1 < <(tr -d '\r' <"$log" | sed -n 's/^lab panel: viscosity slider //p' | head -n 1)
client=$(e2e_client_window "$top")
read -r wx wy < <(xwininfo -id "$client" | awk '/Absolute upper-left X:/ {x = $4} /Absolute upper-left Y:/ {y = $4} END {print x, y}')
read -r cx cy < <(e2e_window_centre "$client")

# The panel on the left, the fluid beside it: the panel's pixels are its
# grey and blue, the fluid's the demo's blue-to-cyan points.
shot() { "$probe" shot "$client" "$work/$1.ppm"; }
stats=$(shot first)
e2e_note "first picture: $stats"
((sx0 > 0 && sx1 < 400)) || e2e_fail "viscosity slider not in the panel: $sx0..$sx1"
(($(e2e_field "$stats" other) >= 20000)) || e2e_fail "no panel drawn: $stats"
(($(e2e_field "$stats" particle) >= 1000)) || e2e_fail "no particles drawn: $stats"
(($(e2e_field "$stats" x02) >= sx1)) || e2e_fail "particles under the panel: $stats"

# Keys go to the window under the pointer: the fluid, not the panel.
xdotool mousemove $((cx + 150)) "$cy"
xdotool key space
e2e_wait 60 "the pause" grep -q "^lab paused:" "$log" || e2e_fail "Space did not pause"
paused=$(state_line paused)
# Paused, beats pass and the state stays (asked again after a second).
sleep 1
xdotool key h
e2e_wait 30 "the state asked for" state_is asked "${paused%% *}" || e2e_fail "paused run moved on: $paused then $(state_line asked)"
[ "$(state_line asked)" = "$paused" ] || e2e_fail "paused state changed: $paused then $(state_line asked)"

xdotool key r
await_state reset 0
[ "$hash" = "$start_hash" ] || e2e_fail "reset gave $hash, the start was $start_hash"
xdotool key period
await_state step 1
[ "$hash" != "$start_hash" ] || e2e_fail "a step left the state as it was"
for _ in $(seq 99); do xdotool key period; done
await_state step 100
window_100=$hash
if [ "$suffix" = .exe ]; then
  headless_100=$(wine "$build/headless/pondsim-lab-headless.exe" --steps 100 | tr -d '\r' | sed -n 's/^state hash: //p')
else
  headless_100=$("$build/headless/pondsim-lab-headless" --steps 100 | sed -n 's/^state hash: //p')
fi
e2e_note "100 steps: window $window_100, headless $headless_100"
[ "$window_100" = "$headless_100" ] || e2e_fail "window $window_100 after 100 steps, headless $headless_100"
step20=$(tr -d '\r' <"$log" | sed -n 's/^lab step: step 20 hash //p' | head -n 1)
step1=$(tr -d '\r' <"$log" | sed -n 's/^lab step: step 1 hash //p' | head -n 1)

# Ctrl + left drag through the fluid kicks the particles under the cursor:
# the step after it is another step than the one from the same start.
xdotool key r
await_state reset 0
fx=$((cx + 150))
xdotool mousemove "$fx" "$cy" keydown ctrl mousedown 1
for dx in 10 20 30 40 50 60; do xdotool mousemove $((fx + dx)) "$cy"; done
xdotool mouseup 1 keyup ctrl
e2e_wait 30 "the push" grep -q "^lab push: [1-9]" "$log" || e2e_fail "Ctrl+drag pushed nothing: $(grep "^lab push" "$log")"
e2e_note "$(grep "^lab push" "$log" | tail -n 1)"
xdotool key period
await_state step 1
[ "$hash" != "$step1" ] || e2e_fail "the push left the fluid as it was"

# Viscosity 0.5 typed into its slider (Ctrl+click opens the field), then
# twenty steps from the start again: another fluid.
xdotool key r
await_state reset 0
# The panel reads its input once a frame and keeps no queue, so each part of
# a gesture is held for a while; on a machine too busy to draw a frame in
# that time the gesture is made again, holding longer (Escape closes a field
# that opened but missed the typing). The run says what each edit changed in
# a "lab set:" line.
sets() { tr -d '\r' <"$log" | grep -c '^lab set: ' || true; }
last_set() { tr -d '\r' <"$log" | sed -n 's/^lab set: //p' | tail -n 1; }
more_sets() { (($(sets) > $1)); }
type_viscosity() {
  local hold=$2
  xdotool mousemove $((wx + (sx0 + sx1) / 2)) $((wy + (sy0 + sy1) / 2))
  xdotool keydown ctrl sleep "$hold" mousedown 1 sleep "$hold" mouseup 1 sleep "$hold" keyup ctrl sleep "$hold"
  xdotool key ctrl+a sleep "$hold" type --delay 100 -- "$1"
  xdotool sleep "$hold" key Return
}
click_at() {
  xdotool mousemove $((wx + ($1 + $3) / 2)) $((wy + ($2 + $4) / 2))
  xdotool mousedown 1 sleep "$5" mouseup 1
}
# edit WHAT COMMAND...: makes the gesture until a "lab set:" line follows.
edit() {
  local what=$1 before hold
  shift
  before=$(sets)
  for hold in 0.3 1 2; do
    "$@" "$hold"
    e2e_wait 20 "$what" more_sets "$before" && return 0
    xdotool key Escape
  done
  e2e_fail "$what: no change"
}
edit "viscosity 0.5" type_viscosity 0.5
[ "$(last_set)" = viscosity=0.5 ] || e2e_fail "viscosity 0.5 typed, the run set $(last_set)"
xdotool mousemove $((cx + 150)) "$cy"
# The field may hold the keyboard for some frames after its value changed,
# and a key it takes never reaches the lab: H, which only prints the state,
# until the lab answers, before the steps are counted.
asked_lines() { tr -d '\r' <"$log" | grep -c '^lab asked:' || true; }
answered() { (($(asked_lines) > asked_before)); }
keys_reach_lab() {
  asked_before=$(asked_lines)
  xdotool key h
  e2e_wait 5 "the lab to answer H" answered
}
e2e_wait 60 "the keys to reach the lab again" keys_reach_lab || e2e_fail "the panel keeps the keyboard"
for _ in $(seq 20); do xdotool key period; done
await_state step 20
[ "$hash" != "$step20" ] || e2e_fail "viscosity 0.5 stepped as 0.05 did: $hash"
e2e_note "20 steps at viscosity 0.5: $hash (0.05: $step20)"

# S saves the state into the record folder, as the headless driver's state
# file: the driver takes it up with the hash the window printed.
xdotool key s
e2e_wait 30 "the saved state" grep -q "^lab saved " "$log" || e2e_fail "S saved no state"
saved=$(tr -d '\r' <"$log" | sed -n 's/^lab saved \(.*\): step \([0-9]*\) hash \([0-9a-f]*\)$/\1 \3/p' | tail -n 1)
[ -f "${saved% *}" ] || e2e_fail "no state file ${saved% *}"
if [ "$suffix" = .exe ]; then
  loaded=$(wine "$build/headless/pondsim-lab-headless.exe" --load-state "${saved% *}" --steps 0 | tr -d '\r' |
    sed -n 's/^state hash: //p')
else
  loaded=$("$build/headless/pondsim-lab-headless" --load-state "${saved% *}" --steps 0 | sed -n 's/^state hash: //p')
fi
[ "$loaded" = "${saved#* }" ] || e2e_fail "the driver loaded ${saved% *} with hash $loaded, the window saved ${saved#* }"
e2e_note "state saved at hash ${saved#* }, loaded by the driver with $loaded"

# Colour by density: the same paused state in other colours.
shot colour-before >/dev/null
xdotool key c
e2e_wait 30 "the colour field" grep -q "^lab colour: density" "$log" || e2e_fail "no colour change"
recoloured() {
  shot colour-after >/dev/null
  (($(e2e_field "$("$probe" diff "$work/colour-before.ppm" "$work/colour-after.ppm")" differ) >= 500))
}
e2e_wait 30 "the particles in other colours" recoloured || e2e_fail "colour by density changed no pixels"

# A value typed past the parameter's range is held to it.
edit "viscosity -1" type_viscosity -1
[ "$(last_set)" = viscosity=0 ] || e2e_fail "viscosity -1 typed, the run set $(last_set)"
# Another preset: the fields take its values, so the next edit changes the
# one value edited and no other.
read -r px0 py0 px1 py1 < <(tr -d '\r' <"$log" | sed -n 's/^lab panel: preset water //p' | head -n 1)
edit "the water preset" click_at "$px0" "$py0" "$px1" "$py1"
edit "viscosity 0.5 of water" type_viscosity 0.5
[ "$(last_set)" = viscosity=0.5 ] || e2e_fail "viscosity 0.5 typed under water, the run set $(last_set)"
e2e_note "typed -1 set viscosity=0; after the water preset, 0.5 set viscosity=0.5 alone"

# No text of the panel is cut off at the window's first size.
read -r widest room < <(tr -d '\r' <"$log" | sed -n 's/^lab panel: widest \([0-9]*\) of \([0-9]*\)$/\1 \2/p' | head -n 1)
((widest <= room)) || e2e_fail "the panel's content is $widest wide, its room ends at $room"

"$probe" close "$top" || e2e_fail "cannot send the close request"
e2e_wait 60 "the program to exit" e2e_exited || e2e_fail "still running after the close request"
e2e_exit_status
((status == 0)) || e2e_fail "exit code $status"
[ "$(tr -d '\r' <"$log" | tail -n 1)" = "Shutting down." ] || e2e_fail "last log line: $(tail -n 1 "$log")"
# Started as the headless driver is, from a scene, a preset, a count and a
# setting: ten steps from that start give the driver's hash for ten.
start=(--scene dam --preset water --particles 2000 --set viscosity=0.5)
if [ "$suffix" = .exe ]; then
  e2e_launch_exe lab-start "$program" "${start[@]}"
  driver=$(wine "$build/headless/pondsim-lab-headless.exe" "${start[@]}" --steps 10 | tr -d '\r' | sed -n 's/^state hash: //p')
else
  e2e_launch lab-start "$program" "${start[@]}"
  driver=$("$build/headless/pondsim-lab-headless" "${start[@]}" --steps 10 | sed -n 's/^state hash: //p')
fi
e2e_wait 120 "the lab's window on the dam" e2e_find_window "$title" || e2e_fail "no window for ${start[*]}"
await_start
read -r cx cy < <(e2e_window_centre "$(e2e_client_window "$top")")
xdotool mousemove $((cx + 150)) "$cy"
xdotool key space
e2e_wait 60 "the pause" grep -q "^lab paused:" "$log" || e2e_fail "Space did not pause the dam"
xdotool key r
await_state reset 0
for _ in $(seq 10); do xdotool key period; done
await_state step 10
[ "$hash" = "$driver" ] || e2e_fail "${start[*]}: the window's 10 steps give $hash, the driver's $driver"
e2e_note "${start[*]}, 10 steps: window and driver $hash"
"$probe" close "$top" || e2e_fail "cannot send the close request"
e2e_wait 60 "the program to exit" e2e_exited || e2e_fail "still running after the close request"

# Steps longer than the demo's beat (a search radius far past the kernel's
# makes every search slow, and more than twice as slow with 40 000 fluid
# particles as a quiet machine needs): the window still draws, several
# frames a step.
slow=(--scene dam --preset water --set searchRadius=0.2 --particles 40000)
if [ "$suffix" = .exe ]; then
  e2e_launch_exe lab-slow "$program" "${slow[@]}"
else
  e2e_launch lab-slow "$program" "${slow[@]}"
fi
e2e_wait 120 "the lab's window on the slow dam" e2e_find_window "$title" || e2e_fail "no window for ${slow[*]}"
await_start
read -r cx cy < <(e2e_window_centre "$(e2e_client_window "$top")")
xdotool mousemove $((cx + 150)) "$cy"
# figures: the last F line as "FRAMES STEP MS".
figures() {
  tr -d '\r' <"$log" | sed -n 's/^lab figures: [0-9.]* frames\/s, \([0-9.]*\) ms a step, .*, step \([0-9]*\), \([0-9]*\) frames drawn, .*/\3 \2 \1/p' |
    tail -n 1
}
# stepped_past STEP: asks for the figures until they show a step past STEP.
stepped_past() {
  xdotool key f
  sleep 0.2
  local f
  f=$(figures)
  [ -n "$f" ] && (($(echo "$f" | cut -d' ' -f2) > $1))
}
e2e_wait 120 "the slow dam's first steps" stepped_past 1 || e2e_fail "the slow dam does not step: $(figures)"
read -r frames0 step0 _ < <(figures)
e2e_wait 120 "five more steps" stepped_past $((step0 + 4)) || e2e_fail "the slow dam stopped: $(figures)"
read -r frames1 step1 ms < <(figures)
e2e_note "slow dam: steps $step0 to $step1 at $ms ms a step, frames drawn $frames0 to $frames1"
[ "${ms%.*}" -ge 64 ] || e2e_fail "steps of $ms ms are not slower than the beat: no test"
(((frames1 - frames0) >= 2 * (step1 - step0))) ||
  e2e_fail "$((frames1 - frames0)) frames drawn over $((step1 - step0)) steps of $ms ms"
"$probe" close "$top" || e2e_fail "cannot send the close request"
e2e_wait 60 "the program to exit" e2e_exited || e2e_fail "still running after the close request"

# A mistake on the window's command line is refused in the driver's words
# (on Windows in a dialog, which this test cannot read).
if [ "$suffix" != .exe ]; then
  status=0
  said=$("$program" --scene moon 2>&1 >/dev/null) || status=$?
  driver=$("$build/headless/pondsim-lab-headless" --scene moon 2>&1 >/dev/null) || true
  ((status == 2)) && [ "$said" = "$driver" ] || e2e_fail "--scene moon: exit $status, said \"$said\" (the driver: \"$driver\")"
fi
e2e_note "lab$suffix: all checks passed"
