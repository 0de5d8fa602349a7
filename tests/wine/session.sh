#!/usr/bin/env bash
# One Xvfb display and one Wine server for a whole CTest run of the Windows
# test programs, so that each program is one Wine process started in a
# prefix that is already up.
#
# Usage: session.sh start|stop SESSION_DIR PREFIX
#        session.sh run SESSION_DIR PREFIX PROGRAM.exe [ARGS...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/wine/wine.sh
source "$here/wine.sh"

command=$1 session=$2
wine_env "$3"
shift 3

stop() {
  wine_stop_server
  if [ -f "$session/xvfb.pid" ]; then
    kill "$(cat "$session/xvfb.pid")" 2>/dev/null || true
    rm -f "$session/xvfb.pid"
  fi
  rm -f "$session/display"
}

case $command in
start)
  mkdir -p "$session"
  stop
  # Every descriptor goes to files: CTest waits for the test's pipes, and
  # these processes outlive the test that starts them.
  setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -r -nolisten tcp -noreset \
    3>"$session/display" >"$session/xvfb.log" 2>&1 </dev/null &
  echo $! >"$session/xvfb.pid"
  for ((i = 0; i < 300; i++)); do
    [ -s "$session/display" ] && break
    sleep 0.1
  done
  [ -s "$session/display" ] || { echo "Xvfb did not start (see $session/xvfb.log)" >&2; exit 1; }
  export DISPLAY=":$(head -n 1 "$session/display")"
  started=$SECONDS
  # A server that stays until stop, started before anything else uses the
  # prefix, so that no test's Wine process has to start one.
  mkdir -p "$WINEPREFIX"
  wine_hold_server >>"$session/wine.log" 2>&1 </dev/null
  wine_prefix_ready "$session/wine.log" || { echo "cannot make the Wine prefix (see $session/wine.log)" >&2; exit 1; }
  # The first program starts Wine's own services; let that be done here.
  timeout 120 wine cmd /c exit >>"$session/wine.log" 2>&1 </dev/null
  echo "display $DISPLAY, prefix $WINEPREFIX, ready in $((SECONDS - started)) s"
  ;;
stop)
  stop
  ;;
run)
  [ -s "$session/display" ] || { echo "no Wine session in $session: run the wine.start test first" >&2; exit 1; }
  export DISPLAY=":$(head -n 1 "$session/display")"
  exec wine "$@"
  ;;
*)
  echo "usage: $0 start|stop|run SESSION_DIR PREFIX [PROGRAM ARGS...]" >&2
  exit 2
  ;;
esac
