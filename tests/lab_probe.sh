#!/usr/bin/env bash
# A dam in a tank ten columns long (scene.tankLength 3 m, a column of 0.3 m
# by default, both scaled to the count): the probe prints the front to
# T = 8 and past it, measured against the column and not the tank, never
# beyond the far wall, and every moving particle stays finite and in the
# tank.
#   tests/lab_probe.sh LAB_DRIVER PARTICLES STEPS
set -euo pipefail
lab=$1
count=$2
steps=$3
fail() { echo "FAIL: $*" >&2; exit 1; }

out=$("$lab" --preset water --scene dam --particles "$count" --set scene.tankLength=3.0 --steps "$steps" \
  --probe front 100 --check "$steps" --threads 2)
grep -q '^front t=0.0000 T=0.00 z=[0-9.]* height=[0-9.]* z/a=1.00 height/a=2.00$' <<<"$out" ||
  fail "the start is not a column of z/a 1 and height/a 2: $(grep -m1 '^front' <<<"$out")"
grep -q '^soak: .*; non-finite 0, outside the box 0 ' <<<"$out" || fail "$(grep '^soak' <<<"$out")"
# T and z/a of every line: as many lines as the steps ask for, the last at
# T >= 8, the front past 6a (beyond the 4a tank the probe once assumed) and
# never past the far wall at 10a (but for the half spacing the probe adds to
# the farthest particle: a sixteenth of a at 1000 particles).
read -r lines lastT farthest beyond < <(sed -nE 's/^front t=[0-9.]+ T=([0-9.]+) .* z\/a=([0-9.]+) .*/\1 \2/p' <<<"$out" |
  awk '{ n++; t = $1; if ($2 > far) far = $2; if ($2 > 10.07) over++ } END { print n, t, far + 0, over + 0 }')
[ "$lines" -eq $((steps / 100 + 1)) ] || fail "$lines probe lines for $steps steps"
awk -v t="$lastT" 'BEGIN { exit !(t >= 8) }' || fail "the last probe line at T = $lastT, not past 8"
awk -v z="$farthest" 'BEGIN { exit !(z > 6) }' || fail "the front went no farther than z/a = $farthest"
[ "$beyond" -eq 0 ] || fail "$beyond probe lines put the front past the far wall"
