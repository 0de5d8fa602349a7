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
  # The first mistake in the order given; options only by their full names.
  "2|--size wants|--size 8x0 --fps 0"
  "2|unknown argument '--steps=0'|--steps=0"
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

# Messages name what is really wrong; a new folder may be given with a
# trailing slash.
tmp=$work
touch "$tmp/taken"
"$driver" --steps 0 --export "$tmp/new/" >/dev/null 2>&1 && [ -f "$tmp/new/particles-000000.vtp" ] ||
  fail "--export into a new folder given with a trailing slash"
for case in "--load-state $tmp:is a folder" "--export $tmp/taken/vtk:$tmp/taken is not a folder"; do
  rc=0
  out=$("$driver" --steps 0 ${case%%:*} 2>&1) || rc=$?
  [ "$rc" -eq 2 ] && [[ "$out" == *"${case#*:}"* ]] || fail "${case%%:*}: exit $rc, said: $out"
done

# The encoder is tried before the run: one that cannot encode stops the
# driver with exit 2 before any output is made.
mkdir "$tmp/bin"
printf '#!/bin/sh\ncat >/dev/null\necho "Unknown encoder" >&2\nexit 1\n' >"$tmp/bin/ffmpeg"
chmod +x "$tmp/bin/ffmpeg"
rc=0
out=$(PATH="$tmp/bin:$PATH" "$driver" --steps 3 --video "$tmp/tried.mp4" --export "$tmp/vtk" 2>&1) || rc=$?
[ "$rc" -eq 2 ] && [[ "$out" == *"Unknown encoder"* ]] && [ ! -e "$tmp/vtk" ] && ! ls "$tmp" | grep -q tried ||
  fail "a failing encoder: exit $rc, said: $out; left: $(ls "$tmp")"

# SIGINT ends a run after its step, then its outputs are finished; a second
# one ends it at once, here while it waits for an encoder that takes a
# minute over the end of its video. Job control, so that the driver does not
# start with SIGINT ignored.
mkdir "$tmp/slow"
printf '#!/bin/sh\ncat >/dev/null\ncase "$*" in *.trial.*) exit 0 ;; esac\necho $$ >"%s/encoder.pid"\nexec sleep 60\n' \
  "$tmp" >"$tmp/slow/ffmpeg"
chmod +x "$tmp/slow/ffmpeg"
set -m
PATH="$tmp/slow:$PATH" "$driver" --steps 1000000 --particles 100 --check 10 --size 16x16 --video "$tmp/slow.mp4" \
  >"$tmp/slow.log" 2>&1 &
pid=$!
set +m
# An encoder that has already ended must not fail the script at its exit:
# under errexit a failing kill would end the trap, and with it the run.
trap 'kill -KILL "$pid" 2>/dev/null || true; { [ -f "$tmp/encoder.pid" ] && kill "$(cat "$tmp/encoder.pid")" 2>/dev/null; } || true; rm -rf "$work"' EXIT
for _ in $(seq 600); do
  grep -q '^check at step 10:' "$tmp/slow.log" || ! kill -0 "$pid" 2>/dev/null && break
  sleep 0.1
done
kill -INT "$pid" 2>/dev/null || true
for _ in $(seq 600); do [ -s "$tmp/encoder.pid" ] || ! kill -0 "$pid" 2>/dev/null && break; sleep 0.1; done
kill -INT "$pid" 2>/dev/null || true
for _ in $(seq 200); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
ended=yes
kill -0 "$pid" 2>/dev/null && ended=no
kill -KILL "$pid" 2>/dev/null || true
rc=0
wait "$pid" || rc=$?
[ "$ended" = yes ] && [ "$rc" -eq 130 ] && [ -s "$tmp/encoder.pid" ] ||
  fail "a second SIGINT while the video ends: ended $ended, exit $rc; $(tail -2 "$tmp/slow.log")"
kill "$(cat "$tmp/encoder.pid")" 2>/dev/null || true

# Short runs still time their stages; more particles than a cell holds are
# noted.
out=$("$driver" --steps 3 --particles 4100 2>&1)
grep -Eq '^  density +[0-9.]+ +[0-9.]+$' <<<"$out" && ! grep -Eq '^  density +0\.0000 +0\.0000$' <<<"$out" ||
  fail "stages of a 3-step run: $(grep density <<<"$out")"
[[ "$out" == *"only the first 4000"* ]] || fail "no note on 4100 particles"

# The largest --steps runs in bounded memory (2 GB of address space; a
# record per step would take 8 GB), and SIGTERM ends it cleanly after the
# current step with the report printed. AddressSanitizer reserves terabytes
# of address space for itself, so under it (the asan preset sets
# ASAN_OPTIONS) only the clean end is checked.
(
  [ -n "${ASAN_OPTIONS:-}" ] || ulimit -v 2000000
  exec "$driver" --steps 1000000000 --particles 100 --check 1000 >"$tmp/long.log" 2>&1
) &
pid=$!
for _ in $(seq 300); do
  grep -q '^check at step 2000:' "$tmp/long.log" 2>/dev/null || ! kill -0 "$pid" 2>/dev/null && break
  sleep 0.1
done
kill -TERM "$pid" 2>/dev/null || true
for _ in $(seq 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -KILL "$pid" 2>/dev/null || true
rc=0
wait "$pid" || rc=$?
[ "$rc" -eq 143 ] && grep -q '^state hash: ' "$tmp/long.log" || fail "--steps 1000000000 stopped by SIGTERM: exit $rc; $(tail -3 "$tmp/long.log")"
echo "ok: $name"
