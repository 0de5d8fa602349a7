#!/usr/bin/env bash
# Input storm: the native pondsim and pondsim-wide, each in turn in an Xvfb
# display of their own, get a stream of random input events from xdotool:
# clicks of all three buttons (with and without Shift), arrow keys, Enter
# and Shift pressed and held, left-button drags, resizes down to 1x1 and
# hiding to an empty client area. Checked for each program:
# - it stays alive and keeps rendering: after a shrink and a regrowth over a
#   backdrop of the root window's red, the window shows only black and
#   particle colours again, which only a freshly drawn frame gives, and
#   that frame drew every particle (counted by tests/e2e/gl_points.cpp,
#   preloaded: after random flying the camera may look anywhere);
# - its log has exactly one allocation line per middle or right press, in
#   order, with the counts those presses ask for;
# - its resident memory stays bounded (sampled from /proc throughout);
# - the close request ends it with exit code 0, "Shutting down." last.
#
# Usage: tests/e2e/storm.sh [events per program] [build dir]   (5000)
# The programs are those of the build dir, by default the native build in
# PONDSIM_BUILD_DIR (build/release). A build of the .exe files
# (build/windows) has them run under Wine, in the build tree's prefix. With
# no window manager Wine draws the window's frame itself and keeps its own
# geometry, which a size set from X does not change: the events go to the
# client area only, and the resizes and the hiding are made on the Windows
# side (tests/e2e/win_probe.cpp: a new client size, or minimise and
# restore), as a user's would be, so the client area is never narrower than
# Windows allows (108 pixels here).
# STORM_SEED fixes the random sequence; STORM_PACE is the pause in seconds
# after each event (0.008).
#
# A press counts only if it reaches the window. Every press is made with the
# pointer just put inside the window at its current size, and the window is
# resized only at the start of a batch of events, after the program has
# logged the press that ended the previous batch: by then it has handled
# every earlier drag, so no late put-back of the cursor to the centre of an
# older, larger window can carry a press outside.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
# shellcheck source=tests/e2e/lib.sh
source "$here/lib.sh"

events=${1:-5000}
build=$(cd "$root" && realpath -m "${2:-${PONDSIM_BUILD_DIR:-build/release}}")
pace=${STORM_PACE:-0.008}
seed=${STORM_SEED:-$((($$ * 7919 + $(date +%s)) % 32768))}
[[ "$events" =~ ^[1-9][0-9]*$ ]] || { echo "events must be a positive whole number" >&2; exit 2; }
RANDOM=$seed
title=$E2E_TITLE
wine=0
[ -f "$build/apps/pondsim/pondsim.exe" ] && wine=1
if ((wine)); then
  e2e_start "$build" e2e-storm .exe
else
  e2e_start "$build" e2e-storm
fi
backdrop="$work/x11-backdrop"
c++ -std=c++20 -O1 -Wall -Wextra -Werror "$here/x11_backdrop.cpp" -lX11 -o "$backdrop" ||
  e2e_fail "cannot build x11-backdrop"
"$backdrop" c80000 || e2e_fail "cannot paint the root window"
gl_points="$work/gl-points.so"
c++ -std=c++20 -O1 -Wall -Wextra -Werror -shared -fPIC "$here/gl_points.cpp" -ldl -o "$gl_points" ||
  e2e_fail "cannot build gl-points.so"
e2e_note "display $DISPLAY, seed $seed, $events events per program, programs of $build$( ((wine)) && echo ' under Wine')"

batch_size=100
max_width=900
max_height=680

rss_kb() { sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$shown_by/status" 2>/dev/null; }
sample_rss() {
  local now
  now=$(rss_kb)
  [ -n "$now" ] || e2e_fail "$program: no longer running"
  rss_end=$now
  ((now > rss_max)) && rss_max=$now
  return 0
}
allocation_lines() { tr -d '\r' <"$log" | grep -c '^Allocating ' || true; }
all_logged() { [ "$(allocation_lines)" -ge "${#expected[@]}" ]; }

# Events are written one command to a line; each adds one to `batch`.
emit() {
  script+="$*"$'\n'"sleep $pace"$'\n'
  batch=$((batch + 1))
}
point() { emit mousemove --window "$client" $((RANDOM % width)) $((RANDOM % height)); }
press() {  # press BUTTON: a click with the pointer put inside first
  point
  emit click --delay 1 "$1"
  case $1 in
  2) count=$((count < 100 ? 0 : count - 100)) middle=$((middle + 1)) ;;
  3) count=$((count + 100)) right=$((right + 1)) ;;
  esac
  [ "$1" = 1 ] || expected+=("Allocating $count particles")
}
# win_window COMMAND...: win-probe.exe on the program's window; the client
# size it reports back becomes width and height.
win_window() {
  local found size
  found=$(timeout "$(e2e_seconds 60)" wine "$win_probe" WinMain "$title" "$@" 2>/dev/null | tr -d '\r') &&
    size=$(e2e_field "$found" client) || e2e_fail "$program: win-probe $*: $found"
  width=${size%x*} height=${size#*x}
}
shown() {
  [ "$(xwininfo -id "$client" 2>/dev/null |
    awk '/Map State:/ {m = $3} /^ *Width:/ {w = $2} /^ *Height:/ {h = $2} END {print m, w "x" h}')" = \
    "IsViewable ${width}x$height" ]
}
# Done at once, before the batch's other events, each counted as one; the
# next event waits until X shows the client area at its new size.
resize() {
  if ((wine)); then
    win_window size "$1" "$2"
  else
    width=$1 height=$2
    xdotool windowsize "$top" "$width" "$height"
  fi
  sleep "$pace"
  batch=$((batch + 1))
  e2e_wait 60 "the window at ${width}x$height" shown || e2e_fail "$program: not shown at ${width}x$height"
}
hide_and_show() {
  if ((wine)); then
    win_window minimize
    sleep "$pace"
    win_window restore
  else
    xdotool windowunmap "$top"
    sleep "$pace"
    xdotool windowmap "$top"
  fi
  sleep "$pace"
  batch=$((batch + 2))
  e2e_wait 60 "the window shown again" shown || e2e_fail "$program: not shown again at ${width}x$height"
}
random_key() {
  local keys=(Up Down Left Right Return shift Up Down Left Right)
  printf '%s\n' "${keys[RANDOM % ${#keys[@]}]}"
}

# One batch: perhaps a resize or a hide, then random actions, then a middle
# or right press that the program must log before the next batch begins.
make_batch() {
  script="" batch=0
  local r key steps
  r=$((RANDOM % 100))
  if ((r < 15)); then
    local tiny=("1 1" "1 2" "2 1" "2 2" "3 1")
    # shellcheck disable=SC2086
    resize ${tiny[RANDOM % ${#tiny[@]}]}
  elif ((r < 45)); then
    resize $((1 + RANDOM % max_width)) $((1 + RANDOM % max_height))
  elif ((r < 52)); then
    # Hidden, the client area is empty: a size of 0 by 0.
    hide_and_show
  fi
  while ((batch < batch_size)); do
    r=$((RANDOM % 100))
    if ((r < 22)); then
      point
    elif ((r < 30)); then
      press 1
    elif ((r < 40)); then
      press 2
    elif ((r < 50)); then
      press 3
    elif ((r < 66)); then
      emit key --delay 1 "$(random_key)"
    elif ((r < 76)); then
      key=$(random_key)
      emit keydown --delay 1 "$key"
      point
      point
      emit keyup --delay 1 "$key"
    elif ((r < 90)); then
      point
      emit mousedown 1
      for ((steps = 2 + RANDOM % 4; steps > 0; --steps)); do point; done
      emit mouseup 1
    else
      emit keydown --delay 1 shift
      press $((2 + RANDOM % 2))
      emit keyup --delay 1 shift
    fi
  done
  press $((2 + RANDOM % 2))
}

# The window, shrunk to show the red root around it and grown back over the
# red, must show only black and particle colours again, in a frame that drew
# all the particles there are.
rendered() {
  local stats size pixels
  stats=$("$probe" shot "$client" "$dir/rendered.ppm") || return 1
  render_stats=$stats
  size=$(e2e_field "$stats" size)
  [ "$size" = 400x300 ] || return 1
  pixels=$((${size%x*} * ${size#*x}))
  (($(e2e_field "$stats" other) * 200 <= pixels))
}
points_drawn() { [ "$(tr -d ' ' <"$dir/points")" = "$count" ]; }
check_rendering() {
  if ((count == 0)); then  # no particles to see: a right press brings 100
    script="" batch=0
    press 3
    printf '%s' "$script" | xdotool - || e2e_fail "$program: xdotool failed"
    e2e_wait 60 "the press that adds 100 particles" all_logged || e2e_fail "$program: the right press was not logged"
  fi
  # Overwritten by the next frame's count.
  printf '%20s\n' none >"$dir/points"
  resize 2 2
  resize 400 300
  e2e_wait 60 "a new frame at 400x300" rendered || e2e_fail "$program: no frame drawn after a resize: $render_stats"
  e2e_wait 60 "a frame of all $count particles" points_drawn ||
    e2e_fail "$program: a frame drew $(tr -d ' ' <"$dir/points") points for $count particles"
  e2e_note "$1: a frame at 400x300 of $count points ($render_stats)"
}

summary=()
for program in pondsim pondsim-wide; do
  e2e_note "== $program"
  if ((wine)); then
    LD_PRELOAD="$gl_points" GL_POINTS_FILE="$work/$program/points" \
      e2e_launch_exe "$program" "$build/apps/$program/$program.exe"
  else
    e2e_launch "$program" env PONDSIM_MESSAGEBOX=stderr LD_PRELOAD="$gl_points" GL_POINTS_FILE="$work/$program/points" \
      "$build/apps/$program/$program"
  fi
  e2e_await_scene "$program"
  client=$(e2e_client_window "$top")
  read -r width height < <(xwininfo -id "$client" | awk '/^ *Width:/ {w = $2} /^ *Height:/ {h = $2} END {print w, h}')
  count=3000 middle=0 right=0 sent=0
  expected=("Allocating 500 particles" "Allocating 3000 particles")
  rss_start=$(rss_kb)
  rss_max=$rss_start rss_end=$rss_start
  started=$SECONDS
  halfway=0
  while ((sent < events)); do
    make_batch
    printf '%s' "$script" | xdotool - || e2e_fail "$program: xdotool failed"
    sent=$((sent + batch))
    e2e_wait 60 "the press that ends the batch" all_logged ||
      e2e_fail "$program: $(allocation_lines) allocation lines for ${#expected[@]} expected, after $sent events"
    sample_rss
    if ((!halfway && sent * 2 >= events)); then
      halfway=1
      check_rendering "halfway"
    fi
  done
  storm_seconds=$((SECONDS - started))
  check_rendering "after the storm"
  sample_rss

  "$probe" close "$top" || e2e_fail "$program: cannot send the close request"
  e2e_wait 60 "the program to exit" e2e_exited || e2e_fail "$program: still running after the close request"
  e2e_exit_status
  ((status == 0)) || e2e_fail "$program: exit code $status after the close request"
  mapfile -t lines < <(tr -d '\r' <"$log")
  last=${lines[${#lines[@]} - 1]}
  [ "$last" = "Shutting down." ] || e2e_fail "$program: last log line: $last"
  allocations=("${lines[@]:0:${#lines[@]}-1}")
  if [ "${allocations[*]}" != "${expected[*]}" ]; then
    printf '%s\n' "${expected[@]}" >"$dir/expected.log"
    e2e_fail "$program: ${#allocations[@]} log lines before the last, ${#expected[@]} expected (see $dir/expected.log)"
  fi
  # Bounded: the driver's buffers for a window up to the screen's size and
  # the particles, a few megabytes at most, on top of what set-up took.
  growth=$((rss_max - rss_start))
  ((growth <= 65536)) || e2e_fail "$program: resident memory grew by $growth kB"
  line="$program: $sent events in ${storm_seconds} s; $((middle + right)) middle or right presses ($middle middle, $right right), $((${#allocations[@]} - 2)) allocation lines after set-up; rss start $rss_start kB, max $rss_max kB, end $rss_end kB; exit code $status"
  e2e_note "$line"
  summary+=("$line")
done
printf '%s\n' "${summary[@]}"
