# shellcheck shell=bash
# Helpers for the end-to-end tests, sourced by the scenario scripts.
# Every wait is for a condition with a timeout; every process started here
# is stopped again by e2e_cleanup, which the scripts run on exit.

E2E_PIDS=()
E2E_CLEANUP_HOOKS=()
# Files whose end is shown with a failure (the program's logs).
E2E_FAIL_FILES=()

e2e_note() { printf '[e2e] %s\n' "$*"; }
e2e_fail() {
  local file
  printf '[e2e] FAIL: %s\n' "$*" >&2
  for file in "${E2E_FAIL_FILES[@]}"; do
    [ -f "$file" ] || continue
    printf '[e2e] --- end of %s\n' "$file" >&2
    tail -n 20 "$file" >&2
  done
  exit 1
}

e2e_cleanup() {
  local hook pid
  for hook in "${E2E_CLEANUP_HOOKS[@]}"; do "$hook" || true; done
  for pid in "${E2E_PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${E2E_PIDS[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
}

# Every timeout is a figure for an idle machine times this factor: a wait
# ends as soon as its condition holds, so a long timeout costs time only on
# a failure, and a machine at a load average of 10 runs everything several
# times slower.
E2E_TIME_SCALE=${E2E_TIME_SCALE:-4}
e2e_seconds() { echo $(($1 * E2E_TIME_SCALE)); }

# e2e_wait SECONDS WHAT COMMAND...: runs COMMAND until it succeeds, for
# SECONDS (scaled) at most.
e2e_wait() {
  local seconds what=$2
  seconds=$(e2e_seconds "$1")
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    if ((SECONDS >= deadline)); then
      e2e_note "gave up after ${seconds} s waiting for: $what"
      return 1
    fi
    sleep 0.2
  done
}

# e2e_start_xvfb WORKDIR: a server of our own on a free display; exports
# DISPLAY. Without auto-repeat (-r): a key whose release a busy machine
# delivers late must stay one press, not become several.
e2e_start_xvfb() {
  local dir=$1 fifo number
  fifo="$dir/xvfb.display"
  rm -f "$fifo"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -r -nolisten tcp -noreset 3>"$fifo" >"$dir/xvfb.log" 2>&1 &
  E2E_PIDS+=($!)
  e2e_wait 30 "Xvfb to report its display" test -s "$fifo" || e2e_fail "Xvfb did not start"
  number=$(head -n 1 "$fifo")
  export DISPLAY=":$number"
  e2e_wait 30 "display $DISPLAY to answer" xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 ||
    e2e_fail "display $DISPLAY does not answer"
}

# e2e_wine_prefix: the build tree's Wine prefix, build/wine-prefix, for every
# wine started from here; made once and shared by every Wine run of the test
# command (tests/wine/wine.sh). Stops its server on exit. Builds
# win-probe.exe into $work ($win_probe).
e2e_wine_prefix() {
  local root started=$SECONDS
  win_probe="$work/win-probe.exe"
  x86_64-w64-mingw32-g++-posix -std=c++20 -O1 -Wall -Wextra -Werror -static \
    "$(dirname "${BASH_SOURCE[0]}")/win_probe.cpp" -o "$win_probe" || e2e_fail "cannot build win-probe.exe"
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  # shellcheck source=tests/wine/wine.sh
  source "$root/tests/wine/wine.sh"
  wine_env "$root/build/wine-prefix"
  E2E_CLEANUP_HOOKS+=(e2e_stop_wineserver)
  wine_prefix_ready "$WINEPREFIX.log" || e2e_fail "cannot make the Wine prefix (see $WINEPREFIX.log)"
  wine_hold_server
  e2e_note "Wine prefix $WINEPREFIX ready in $((SECONDS - started)) s"
}
e2e_stop_wineserver() { [ -d "${WINEPREFIX:-}" ] && wine_stop_server; return 0; }

# e2e_build_x11_probe OUTDIR: compiles the X helper once; prints its path.
e2e_build_x11_probe() {
  local out=$1/x11-probe src
  src="$(dirname "${BASH_SOURCE[0]}")/x11_probe.cpp"
  if [ ! -x "$out" ] || [ "$src" -nt "$out" ]; then
    c++ -std=c++20 -O1 -Wall -Wextra -Werror "$src" -lX11 -o "$out" || return 1
  fi
  printf '%s\n' "$out"
}

# e2e_start BUILD NAME [.exe]: for a test of the programs of BUILD, the
# native ones or, with .exe, the Windows ones under Wine: a fresh work
# directory BUILD/NAME ($work), the cleanup on exit, a check that both
# programs are there, an Xvfb of our own and the x11-probe ($probe); for the
# .exe files also the win-probe.exe ($win_probe) and the Wine prefix.
e2e_start() {
  local program suffix=${3:-}
  work="$1/$2"
  rm -rf "$work"
  mkdir -p "$work"
  trap e2e_cleanup EXIT
  for program in pondsim pondsim-wide; do
    [ -x "$1/apps/$program/$program$suffix" ] || e2e_fail "$1/apps/$program/$program$suffix is missing"
  done
  e2e_start_xvfb "$work"
  probe=$(e2e_build_x11_probe "$work") || e2e_fail "cannot build x11-probe"
  [ "$suffix" = .exe ] || return 0
  e2e_wine_prefix
}

# The programs' window title.
E2E_TITLE="Smoothed Particle Hydrodynamics"

# e2e_launch NAME COMMAND...: starts COMMAND in the background with its
# logs in $work/NAME; sets $dir, $log and $app, and shows the logs' ends
# with a failure.
e2e_launch() {
  dir="$work/$1"
  shift
  mkdir -p "$dir"
  log="$dir/stdout.log"
  E2E_FAIL_FILES=("$log" "$dir/stderr.log")
  "$@" >"$log" 2>"$dir/stderr.log" &
  app=$!
  E2E_PIDS+=("$app")
  through_probe=0
}

# e2e_launch_exe NAME PROGRAM [ARGS...]: e2e_launch of a Windows program
# under Wine, through win-probe.exe, which keeps its exit code for
# e2e_exit_status (a busy machine can see the wine process itself killed as
# the program ends).
e2e_launch_exe() {
  local name=$1
  shift
  rm -f "$work/$name/exit-code"
  e2e_launch "$name" wine "$win_probe" run "$work/$name/exit-code" "$@"
  through_probe=1
}

# e2e_exit_status: once $app has ended, its exit code ($status): the
# Windows program's own for e2e_launch_exe.
e2e_exit_status() {
  status=0
  wait "$app" || status=$?
  if [ -f "$dir/exit-code" ]; then
    ((status == 0)) || e2e_note "wine ended with $status after the program"
    status=$(tr -d '\r\n' <"$dir/exit-code")
  fi
}

# e2e_find_window [TITLE]: the top-level window of $app titled TITLE (the
# programs' title); sets $top, and $shown_by to the process that shows it
# ($app itself, or the program that win-probe.exe runs).
e2e_find_window() {
  local owner=(--pid "$app")
  ((through_probe)) && owner=()
  top=$(xdotool search --all "${owner[@]}" --name "^${1:-$E2E_TITLE}\$" 2>/dev/null | head -n 1) && [ -n "$top" ] &&
    shown_by=$(xdotool getwindowpid "$top")
}

e2e_exited() { ! kill -0 "$app" 2>/dev/null; }

# e2e_await_scene WHAT: $app's window is up and its scene set up (the
# set-up's allocation line is in $log); sets $top.
e2e_await_scene() {
  e2e_wait 120 "the window of $1" e2e_find_window || e2e_fail "$1: no window titled \"$E2E_TITLE\""
  e2e_wait 60 "the first allocation" e2e_log_has "$log" "Allocating 3000 particles" ||
    e2e_fail "$1: the scene was not set up"
}

# e2e_log_count FILE LINE: how many lines of FILE are exactly LINE (a
# carriage return before the line end is not part of the line).
e2e_log_count() {
  tr -d '\r' <"$1" | grep -c -x -F -- "$2" || true
}
e2e_log_has() { [ "$(e2e_log_count "$1" "$2")" -ge "${3:-1}" ]; }

# e2e_field STATS NAME: one figure of an x11-probe line.
e2e_field() {
  local pair
  for pair in $1; do
    if [ "${pair%%=*}" = "$2" ]; then
      printf '%s\n' "${pair#*=}"
      return 0
    fi
  done
  return 1
}

# e2e_takes_keys WINDOW: the window is shown and the keyboard reaches it.
# Without a window manager the focus follows the pointer (1, PointerRoot)
# or, under Wine, sits on the window Wine last activated: a key pressed
# before the window is mapped and focused goes elsewhere and is lost.
e2e_takes_keys() {
  xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable' || return 1
  local focus
  focus=$(xdotool getwindowfocus -f 2>/dev/null) || return 1
  [ "$focus" = 1 ] && return 0
  focus=$(printf '0x%x' "$focus")
  xwininfo -id "$1" -tree 2>/dev/null | awk -v f="$focus" '$1 == f || $4 == f {found = 1} END {exit !found}'
}

# e2e_client_window TOPLEVEL: the child that holds the client area (the
# OpenGL drawable), or the top-level window itself when it has none.
e2e_client_window() {
  local child
  child=$(xwininfo -id "$1" -children 2>/dev/null | awk '$1 ~ /^0x/ && $2 == "(has" {print $1; exit}')
  printf '%s\n' "${child:-$1}"
}

# e2e_window_centre WINDOW: "x y" of the window's centre on the screen.
e2e_window_centre() {
  xwininfo -id "$1" | awk '
    /Absolute upper-left X:/ {x = $4} /Absolute upper-left Y:/ {y = $4}
    /^ *Width:/ {w = $2} /^ *Height:/ {h = $2}
    END {printf "%d %d\n", x + int(w / 2), y + int(h / 2)}'
}
