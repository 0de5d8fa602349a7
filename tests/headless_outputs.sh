#!/usr/bin/env bash
# What a headless run keeps: PNG frames, a video, the VTK export and the
# state file, and a run continued from a saved state.
#   tests/headless_outputs.sh DRIVER OTHER_DRIVER VIDEO_EXTENSION WORK_DIR
set -euo pipefail
driver=$1
other=$2
extension=$3
work=$4
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "FAIL: $*" >&2; exit 1; }
rm -rf "$work"
mkdir -p "$work"
cd "$work"

"$driver" --steps 50 --every 10 --size 160x120 --record frames --video "run.$extension" --export vtk \
  --save-state half.state >run.log
ls frames >frames.txt
printf 'frame-%06d.png\n' 0 10 20 30 40 50 | cmp -s - frames.txt || fail "frames written: $(tr '\n' ' ' <frames.txt)"
probe=$(ffprobe -v error -count_frames -select_streams v:0 \
  -show_entries stream=nb_read_frames,width,height -of csv=p=0 "run.$extension")
[ "$probe" = "160,120,6" ] || fail "run.$extension has width,height,frames $probe, not 160,120,6"
/usr/bin/python3 "$here/vtk_readback.py" vtk half.state

# Fifty steps, saved, loaded and fifty more are the hundred-step run.
whole=$("$driver" --steps 100 | sed -n 's/^state hash: //p')
continued=$("$driver" --steps 50 --load-state half.state | sed -n 's/^state hash: //p')
[ -n "$whole" ] && [ "$whole" = "$continued" ] || fail "continued run hash $continued, unbroken run $whole"

# Damaged, newer and foreign files are refused before the scene is built.
"$other" --steps 0 --save-state other.state >/dev/null
head -c -1 half.state >short.state
cp half.state flipped.state
printf '\x01' | dd of=flipped.state bs=1 seek=5000 conv=notrunc status=none
cp half.state newer.state
printf '\x02' | dd of=newer.state bs=1 seek=8 conv=notrunc status=none
for bad in short:truncated flipped:checksum newer:"format version 2" other:"holds a state of"; do
  rc=0
  out=$("$driver" --steps 3 --load-state "${bad%%:*}.state" 2>&1) || rc=$?
  [ "$rc" -eq 2 ] && [[ "$out" == *"${bad#*:}"* && "$out" != *Allocating* ]] || fail "${bad%%:*}.state: exit $rc, said: $out"
done
echo "ok: $(basename "$driver")"
