# shellcheck shell=bash
# Wine settings shared by every run of the Windows programs and tests: one
# prefix per build tree, made once, reused by every later run.

# wine_env PREFIX: exports the settings for Wine runs in PREFIX.
wine_env() {
  export WINEPREFIX=$1
  export WINEARCH=win64
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
}

# wine_prefix_ready LOG: makes the prefix of wine_env unless it is made
# already; DISPLAY must be set. Several callers at once wait for the first.
wine_prefix_ready() {
  local log=$1
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock -w 600 9 || exit 1
    [ -f "$WINEPREFIX/.made" ] && exit 0
    timeout 300 wineboot -i >>"$log" 2>&1 </dev/null || exit 1
    # Without a window manager Wine otherwise waits about 2 s for one at
    # every window close.
    timeout 120 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >>"$log" 2>&1 </dev/null ||
      exit 1
    touch "$WINEPREFIX/.made"
  ) 9>"$WINEPREFIX.lock"
}

# wine_hold_server: a server for the prefix of wine_env that stays until
# wine_stop_server, in place of any the prefix has (wineboot leaves one for
# a few seconds). Each wine process otherwise starts one or finds one, and a
# server that is shutting down as the next process connects leaves that
# process with "recvmsg: Connection reset by peer".
wine_hold_server() {
  wine_stop_server
  wineserver -p
}

# wine_stop_server: stops the prefix's server and waits until it is gone,
# so that whatever runs Wine next starts a server of its own.
wine_stop_server() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}
