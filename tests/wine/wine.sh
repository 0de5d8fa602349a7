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
