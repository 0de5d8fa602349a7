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
echo "ok: $name"
