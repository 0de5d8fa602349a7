#!/usr/bin/env bash
# One fluid on both platforms: the Windows headless drivers under Wine, whose
# scatter draws from the Microsoft runtime's rand(), must reach the same state
# hash after 100 and after 1000 steps of the default start as the Linux
# drivers with --rand msvcrt, in both variants, and so must the lab driver's
# classic scatter.
#
# Usage: tests/wine/cross_hashes.sh [Windows build]   (build/windows)
# The Linux drivers are those of PONDSIM_BUILD_DIR (build/release); the Wine
# prefix is build/wine-prefix, made on first use.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
# shellcheck source=tests/wine/wine.sh
source "$here/wine.sh"
cd "$root"

windows=${1:-build/windows}
linux=${PONDSIM_BUILD_DIR:-build/release}
wine_env "$root/build/wine-prefix"
mkdir -p "$windows/cross"
wine_prefix_ready "$windows/cross/wine.log" || { echo "cannot make the Wine prefix" >&2; exit 1; }
wine_hold_server
trap wine_stop_server EXIT

hash_of() { sed -n 's/^state hash: \([0-9a-f]*\).*/\1/p'; }
status=0
for program in pondsim pondsim-wide; do
  for steps in 100 1000; do
    native=$("$linux/headless/$program-headless" --steps "$steps" --rand msvcrt </dev/null | hash_of)
    # No display is needed: nothing is drawn.
    windows_hash=$(DISPLAY= timeout 600 wine "$windows/headless/$program-headless.exe" --steps "$steps" </dev/null |
      tr -d '\r' | hash_of)
    verdict=same
    if [ -z "$native" ] || [ "$native" != "$windows_hash" ]; then
      verdict=DIFFERENT
      status=1
    fi
    printf '%-13s %4d steps: Linux --rand msvcrt %s, Windows %s: %s\n' "$program" "$steps" "${native:-none}" \
      "${windows_hash:-none}" "$verdict"
  done
done
# The lab driver's classic scatter: the demo's fluid in the lab's solver,
# the same state on both platforms.
native=$("$linux/headless/pondsim-lab-headless" --preset classic --scene scatter --steps 100 --rand msvcrt </dev/null |
  hash_of)
windows_hash=$(DISPLAY= timeout 600 wine "$windows/headless/pondsim-lab-headless.exe" --preset classic --scene scatter \
  --steps 100 </dev/null | tr -d '\r' | hash_of)
verdict=same
if [ -z "$native" ] || [ "$native" != "$windows_hash" ]; then
  verdict=DIFFERENT
  status=1
fi
printf '%-13s %4d steps: Linux --rand msvcrt %s, Windows %s: %s\n' lab-classic 100 "${native:-none}" \
  "${windows_hash:-none}" "$verdict"
# With no ffmpeg.exe on the Windows PATH, --video says what a Windows user
# needs, not a Debian package.
rc=0
out=$(DISPLAY= timeout 120 wine "$windows/headless/pondsim-headless.exe" --steps 1 --video x.mp4 2>&1 </dev/null) || rc=$?
if [ "$rc" -ne 2 ] || [[ "$out" != *ffmpeg.exe*PATH* || "$out" == *apt-get* ]]; then
  echo "FAIL: --video without ffmpeg under Wine: exit $rc, said: $out" >&2
  status=1
fi
exit "$status"
