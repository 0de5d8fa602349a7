#!/usr/bin/env bash
# The headless driver's command line: read whole before the scene exists,
# and every output folder checked before the run.
#   tests/headless_cli.sh DRIVER VERSION
set -euo pipefail
driver=$1
version=$2
name=$(basename "$driver")
fail() { echo "FAIL: $*" >&2; exit 1; }

out=$("$driver" --help 2>&1) || fail "--help exits $?"
[[ "$out" == usage:* ]] || fail "--help does not start with its usage line: ${out%%$'\n'*}"

out=$("$driver" --version 2>&1) || fail "--version exits $?"
[ "$out" = "$name $version" ] || fail "--version says '$out', not '$name $version'"

# A run into a folder that is not there: refused before set-up.
rc=0
out=$("$driver" --steps 3 --snapshot "/nonexistent-$$/x.png" 2>&1) || rc=$?
[ "$rc" -eq 2 ] || fail "a snapshot into a missing folder exits $rc, not 2"
[[ "$out" == *"does not exist"* && "$out" != *Allocating* ]] || fail "missing folder not refused before set-up: $out"

rc=0
out=$(PATH=/nonexistent "$driver" --steps 3 --video "${TMPDIR:-/tmp}/x.mp4" 2>&1) || rc=$?
[ "$rc" -eq 2 ] && [[ "$out" == *ffmpeg* && "$out" != *Allocating* ]] || fail "no ffmpeg: exit $rc, said: $out"
# Command lines -> exit code and a piece of what the driver says. Upper
# limits are accepted; nothing here is drawn or run for long.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cases=(
  "0|--fps has no effect|--steps 0 --fps 240"
  "0|--size has no effect|--steps 0 --size 8192x8192"
  "0|--every has no effect|--steps 0 --every 1000000000"
  "2|from 1 to 240|--steps 0 --fps 241"
  "2|--size wants|--steps 0 --size 8x0"
  "2|--size wants|--steps 0 --size 8193x8"
  "2|even sides|--steps 0 --size 160x121 --video $work/x.mp4"
  "2|even sides|--steps 0 --size 161x120 --video $work/x.webm"
  "2|unknown argument '--bogus'|--version --bogus"
  "2|unknown argument '--bogus'|--bogus --version"
  "2|unknown argument '--bogus'|--help --bogus"
  "0|$name $version|--steps 5 --version"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r want said line <<<"$entry"
  rc=0
  # shellcheck disable=SC2086  # the table's command lines split on spaces
  out=$("$driver" $line 2>&1) || rc=$?
  [ "$rc" -eq "$want" ] && [[ "$out" == *"$said"* ]] || fail "$line: exit $rc (not $want), said: $out"
done

# An empty PATH entry is the current folder, where ffmpeg may be found.
ln -s "$(command -v ffmpeg)" "$work/ffmpeg"
rc=0
out=$(cd "$work" && PATH=/nonexistent: "$driver" --steps 0 --size 16x16 --video x.mp4 2>&1) || rc=$?
[ "$rc" -eq 0 ] && [ -s "$work/x.mp4" ] || fail "ffmpeg in the current folder, PATH=/nonexistent: exit $rc, said: $out"
echo "ok: $name"
