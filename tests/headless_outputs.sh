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

# Not the default 4:3, so that a picture drawn at the wrong aspect shows.
"$driver" --steps 50 --every 10 --size 160x90 --record frames --video "run.$extension" --export vtk \
  --save-state half.state --snapshot half.png >run.log
ls frames >frames.txt
printf 'frame-%06d.png\n' 0 10 20 30 40 50 | cmp -s - frames.txt || fail "frames written: $(tr '\n' ' ' <frames.txt)"
cmp -s frames/frame-000050.png half.png || fail "the last recorded frame is not the snapshot of the same state"
probe=$(ffprobe -v error -count_frames -select_streams v:0 \
  -show_entries stream=nb_read_frames,width,height -of csv=p=0 "run.$extension")
[ "$probe" = "160,90,6" ] || fail "run.$extension has width,height,frames $probe, not 160,90,6"
# The video's last frame against the snapshot, top rows first in both (the
# encoding is lossy: a mean difference, which an upside-down frame, black
# where the snapshot has particles, far exceeds).
ffmpeg -v error -i half.png -f rawvideo -pix_fmt rgb24 -y half.rgb
ffmpeg -v error -i "run.$extension" -f rawvideo -pix_fmt rgb24 - | tail -c $((160 * 90 * 3)) >last.rgb
difference=$(/usr/bin/python3 -c '
import sys
a, b = (open(name, "rb").read()[:160 * 3 * 20] for name in sys.argv[1:])
print(round(sum(abs(x - y) for x, y in zip(a, b)) / len(a), 2))' half.rgb last.rgb)
/usr/bin/python3 -c "import sys; sys.exit(float('$difference') >= 6)" ||
  fail "the video's top rows differ from the snapshot's by $difference on average"
/usr/bin/python3 "$here/vtk_readback.py" vtk half.state

# A second run into the same folders replaces what is there.
"$driver" --steps 0 --size 160x90 --record frames --export vtk >/dev/null || fail "second run into frames/ and vtk/: exit $?"

# Fifty steps, saved, loaded and fifty more are the hundred-step run.
whole=$("$driver" --steps 100 | sed -n 's/^state hash: //p')
continued=$("$driver" --steps 50 --load-state half.state | sed -n 's/^state hash: //p')
[ -n "$whole" ] && [ "$whole" = "$continued" ] || fail "continued run hash $continued, unbroken run $whole"

# The saved camera comes back: the loaded state draws as the saving run did.
"$driver" --steps 0 --load-state half.state --size 160x90 --snapshot loaded.png >/dev/null
cmp -s loaded.png half.png || fail "the loaded state does not draw as the saved one"

# A failed save leaves neither the file nor anything else behind.
mkdir full
rc=0
(cd full && trap '' XFSZ && ulimit -f 64 && "$driver" --steps 0 --save-state big.state >/dev/null 2>&1) || rc=$?
[ "$rc" -eq 1 ] && [ -z "$(ls -A full)" ] || fail "failed save: exit $rc, left $(ls -A full)"

# half.state with a header field changed and its checksum made good again,
# so that only the field's own check can refuse it.
restamp() {  # OUT STRUCT_FORMAT OFFSET VALUE [SIZE]
  /usr/bin/python3 - "$@" <<'PY'
import struct, sys
out, form, at, value = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
data = bytearray(open("half.state", "rb").read()[:-8])
struct.pack_into(form, data, at, value)
size = int(sys.argv[5]) if len(sys.argv) > 5 else len(data) + 8
if size != len(data) + 8:
    data = data[:88]  # a header alone, grown to size with holes
h = 0xcbf29ce484222325
for byte in data:
    h = ((h ^ byte) * 0x100000001b3) & 0xffffffffffffffff
with open(out, "wb") as f:
    f.write(data)
    f.write(struct.pack("<Q", h))
    f.truncate(size)
PY
}
restamp negative.state '<q' 40 -1
restamp claims.state '<i' 36 1000000
record=$(/usr/bin/python3 -c 'import struct,sys; print(struct.unpack_from("<I", open("half.state","rb").read(), 12)[0])')
restamp huge.state '<i' 36 2000001 $((88 + 2000001 * record + 8))

# Damaged, newer and foreign files are refused before the scene is built.
"$other" --steps 0 --save-state other.state >/dev/null
head -c -1 half.state >short.state
cp half.state flipped.state
printf '\x01' | dd of=flipped.state bs=1 seek=5000 conv=notrunc status=none
cp half.state newer.state
printf '\x02' | dd of=newer.state bs=1 seek=8 conv=notrunc status=none
for bad in short:truncated flipped:checksum newer:"format version 2" other:"holds a state of" \
           negative:"step number is out of range" claims:"does not match its particle count" \
           huge:"claims 2000001 particles"; do
  rc=0
  out=$("$driver" --steps 3 --load-state "${bad%%:*}.state" 2>&1) || rc=$?
  [ "$rc" -eq 2 ] && [[ "$out" == *"${bad#*:}"* && "$out" != *Allocating* ]] || fail "${bad%%:*}.state: exit $rc, said: $out"
done
rm -f huge.state

# The last step is kept when --steps is not a multiple of --every.
"$driver" --steps 25 --every 10 --export last >/dev/null
ls last | tr '\n' ' ' >last.txt
[ "$(cat last.txt)" = "particles-000000.vtp particles-000010.vtp particles-000020.vtp particles-000025.vtp particles.pvd " ] ||
  fail "25 steps every 10 exported: $(cat last.txt)"

# Every file a run leaves is complete, and the .pvd lists every .vtp: after
# SIGINT mid-run (the report printed, exit code 130), and after a run that
# fills its disk (exit code 1). No file is left under its temporary name.
complete() {
  local folder=$1
  ! ls "$folder" | grep -q partial || fail "$folder holds a partial file: $(ls "$folder")"
  for vtp in "$folder"/*.vtp; do
    [ "$(stat -c %s "$vtp")" = "$(stat -c %s last/particles-000000.vtp)" ] || fail "$vtp is cut short"
  done
  diff <(cd "$folder" && ls ./*.vtp | sed 's|^\./||') <(sed -n 's/.*file="\([^"]*\)".*/\1/p' "$folder/particles.pvd" 2>/dev/null) ||
    fail "$folder/particles.pvd does not list the .vtp files there"
}
# Job control, so that the background driver does not start with SIGINT
# ignored, and gets a process group of its own, which SIGINT is sent to as
# a terminal's Ctrl-C is: the encoder must not be in it. Frames far apart,
# so that the step the run stopped at is kept only because it stopped there.
set -m
"$driver" --steps 1000000 --every 1000000 --check 10 --size 160x120 --record stop --video "stop.$extension" \
  --export stop >stop.log 2>&1 &
pid=$!
set +m
trap 'kill -KILL "$pid" 2>/dev/null || true' EXIT
for _ in $(seq 600); do
  grep -q '^check at step 30:' stop.log || ! kill -0 "$pid" 2>/dev/null && break
  sleep 0.1
done
kill -INT -- "-$pid" 2>/dev/null || true
for _ in $(seq 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -KILL "$pid" 2>/dev/null || true
rc=0
wait "$pid" || rc=$?
[ "$rc" -eq 130 ] && grep -q '^state hash: ' stop.log || fail "SIGINT: exit $rc, $(tail -2 stop.log)"
complete stop
stopped=$(printf '%06d' "$(sed -n 's/^stopped by SIGINT after step \([0-9]*\);.*/\1/p' stop.log)")
[ "$(ls stop | tr '\n' ' ')" = "frame-000000.png frame-$stopped.png particles-000000.vtp particles-$stopped.vtp particles.pvd " ] ||
  fail "SIGINT after step $stopped: the folder holds $(ls stop | tr '\n' ' ')"
probe=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 \
  "stop.$extension" || true)
[ "$probe" = 2 ] || fail "SIGINT: the video has ${probe:-no} frames, not the first and the last"

# Past 1024 files the listing is rewritten less often, and at the end.
"$driver" --steps 1100 --particles 100 --export many >/dev/null
[ "$(grep -c '<DataSet ' many/particles.pvd)" -eq 1101 ] && grep -q 'file="particles-001100.vtp"' many/particles.pvd ||
  fail "an export of 1101 files lists $(grep -c '<DataSet ' many/particles.pvd) in particles.pvd"
rm -rf many

mkdir tiny
if mount -t tmpfs -o size=200k tmpfs tiny 2>/dev/null; then
  rc=0
  "$driver" --steps 30 --every 10 --size 160x120 --record tiny --video "tiny/run.$extension" --export tiny \
    >tiny.log 2>&1 || rc=$?
  ls tiny >tiny.txt
  whole=yes
  (complete tiny) || whole=no
  umount tiny
  [ "$rc" -eq 1 ] && [ "$whole" = yes ] && ! grep -q "\.$extension" tiny.txt ||
    fail "a run on a full disk: exit $rc, left $(tr '\n' ' ' <tiny.txt)"
else
  echo "skipped: the full-disk run needs a small tmpfs, and mount is not permitted here"
fi
echo "ok: $(basename "$driver")"
