#!/usr/bin/env bash
# The lab driver end to end: the demo's hash from the classic scatter, one
# hash for any thread count, the command line's answers, a config file read
# as the same --set, the probe's lines, and a saved state taken up again
# giving the hash of one longer run.
#   tests/lab_headless.sh LAB_DRIVER DEMO_DRIVER VERSION WORKDIR
set -euo pipefail
lab=$1
demo=$2
version=$3
work=$4
rm -rf "$work" && mkdir -p "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
hash_of() { sed -n 's/^state hash: //p' <<<"$1"; }

out=$("$lab" --preset classic --scene scatter --steps 100)
[ "$(hash_of "$out")" = 9dc9c7d09e2e5a4d ] || fail "classic scatter, 100 steps: $(hash_of "$out")"
grep -Eq '^  step +[0-9]+\.[0-9]+ +[0-9]+\.[0-9]+$' <<<"$out" || fail "no step timing line: $out"
# --particles reseeds as the demo driver's does, past its 4000 paired too.
lab_hash=$(hash_of "$("$lab" --steps 30 --particles 4200)")
demo_hash=$(hash_of "$("$demo" --steps 30 --particles 4200 2>/dev/null)")
[ "$lab_hash" = "$demo_hash" ] || fail "--particles 4200: lab $lab_hash, demo driver $demo_hash"
# The classic scatter's picture is the demo's, pixel for pixel: the same
# camera, points and colours.
"$lab" --steps 20 --size 160x120 --snapshot "$work/lab.png" >/dev/null
"$demo" --steps 20 --size 160x120 --snapshot "$work/demo.png" >/dev/null
cmp -s "$work/lab.png" "$work/demo.png" || fail "the classic scatter's snapshot differs from the demo driver's"

dam=(--preset water --scene dam --particles 2000)
one=$(hash_of "$("$lab" "${dam[@]}" --steps 60 --threads 1)")
out=$("$lab" "${dam[@]}" --steps 60 --threads 3)
three=$(hash_of "$out")
[ -n "$one" ] && [ "$one" = "$three" ] || fail "water dam: 1 thread $one, 3 threads $three"
grep -q '^threads: 3$' <<<"$out" || fail "--threads 3 ran on $(sed -n 's/^threads: //p' <<<"$out")"
# The double dam's default count.
out=$("$lab" --preset water --scene double-dam --steps 0)
grep -q '^particles: [0-9]* (32000 moving)$' <<<"$out" || fail "the double dam by default: $(grep particles <<<"$out")"

# The VTK export marks the dam's wall particles, which follow the moving ones.
out=$("$lab" "${dam[@]}" --steps 0 --export "$work/vtk")
read -r total moving < <(sed -nE 's/^particles: ([0-9]+) \(([0-9]+) moving\)$/\1 \2/p' <<<"$out")
[ -n "${moving:-}" ] && [ "$moving" -lt "$total" ] || fail "water dam: no walls in the report: $out"
/usr/bin/python3 "$(dirname "$0")/vtk_readback.py" --walls "$moving" "$work/vtk" >/dev/null

# The stages' portable and AVX2 builds give the bits of the one the CPU
# chose (the widest it runs), and all a state pinned here.
for build in PONDSIM_LAB_PORTABLE PONDSIM_LAB_AVX2; do
  other=$(hash_of "$(env $build=1 "$lab" "${dam[@]}" --steps 60 --threads 2)")
  [ "$other" = "$one" ] || fail "water dam: $build stages $other, chosen ones $one"
done
[ "$one" = 85d6b667ebc53359 ] || fail "water dam, 60 steps: $one, not 85d6b667ebc53359"
# So do the weakly compressible solver's sweeps, under each kernel.
for kernel in cubic poly6-spiky; do
  weak=(--set pressureSolver=wcsph --set kernel=$kernel --set timeStep=0.0004 --steps 60 --threads 2)
  chosen=$(hash_of "$("$lab" "${dam[@]}" "${weak[@]}")")
  for build in PONDSIM_LAB_PORTABLE PONDSIM_LAB_AVX2; do
    other=$(hash_of "$(env $build=1 "$lab" "${dam[@]}" "${weak[@]}")")
    [ -n "$chosen" ] && [ "$other" = "$chosen" ] || fail "wcsph dam, $kernel: $build stages $other, chosen ones $chosen"
  done
done

# Command lines -> exit code and a piece of what the driver says.
cases=(
  "0|usage: pondsim-lab-headless|--help"
  "0|pondsim-lab-headless $version|--version"
  "2|unknown argument '--bogus'|--steps 0 --bogus"
  "2|--steps wants a whole number from 0 to 1000000000|--steps -1"
  "2|no parameter is called speed|--steps 0 --set speed=1"
  "2|viscosity must lie from 0|--steps 0 --set viscosity=-1"
  "2|equationOfState takes one of linear|tait|--steps 0 --set equationOfState=cubic"
  "2|--scene wants scatter|--scene moon"
  "2|--probe wants front|--probe back"
  "2|--particles and --load-state|--particles 5 --load-state $work/none"
  "2|does not exist|--steps 0 --snapshot /nonexistent-$$/x.png"
)
for entry in "${cases[@]}"; do
  # exit code|what it says (may hold a bar)|command line
  want=${entry%%|*}
  rest=${entry#*|}
  said=${rest%|*}
  line=${rest##*|}
  rc=0
  # shellcheck disable=SC2086  # the table's command lines split on spaces
  out=$("$lab" $line 2>&1) || rc=$?
  [ "$rc" -eq "$want" ] && [[ "$out" == *"$said"* ]] || fail "$line: exit $rc (not $want), said: $out"
done

# A config file says what the command line says.
cat >"$work/lab.toml" <<'TOML'
# the same run as the command line below
preset = "water"
scene = "pool"
particles = 1500
steps = 20
set = ["viscosity=0.25", "speedOfSound=40"]
TOML
from_file=$(hash_of "$("$lab" --config "$work/lab.toml")")
given=$(hash_of "$("$lab" --preset water --scene pool --particles 1500 --steps 20 --set viscosity=0.25 --set speedOfSound=40)")
plain=$(hash_of "$("$lab" --preset water --scene pool --particles 1500 --steps 20)")
[ "$from_file" = "$given" ] && [ "$given" != "$plain" ] || fail "config $from_file, --set $given, neither $plain"
# A key the driver does not know is refused there too.
echo 'viscosity = 0.25' >"$work/bad.toml"
rc=0
out=$("$lab" --config "$work/bad.toml" 2>&1) || rc=$?
[ "$rc" -eq 2 ] && [[ "$out" == *"--config"*viscosity* ]] || fail "unknown config key: exit $rc, said: $out"

# The probe: a line at the start and every K steps, each naming its values.
out=$("$lab" "${dam[@]}" --steps 40 --probe front 10)
lines=$(grep -c '^front ' <<<"$out" || true)
[ "$lines" -eq 5 ] || fail "--probe front 10 over 40 steps printed $lines lines"
bad=$(grep '^front ' <<<"$out" | grep -Evc '^front t=[0-9]+\.[0-9]{4} T=[0-9]+\.[0-9]{2} z=[0-9]+\.[0-9]{4} height=[0-9]+\.[0-9]{4} z/a=[0-9]+\.[0-9]{2} height/a=[0-9]+\.[0-9]{2}$' || true)
[ "$bad" -eq 0 ] || fail "probe lines not in their form: $out"
grep -q '^front t=0.0000 T=0.00 z=[0-9.]* height=[0-9.]* z/a=1.00 height/a=2.00$' <<<"$out" || fail "dam start is not z/a 1, height/a 2: $out"

# Saved and taken up again: the hash of one run of the sum of the steps, for
# capped lists (classic) and bounded steps with walls (water).
for run in "--preset classic --scene scatter" "${dam[*]}"; do
  # shellcheck disable=SC2086
  whole=$("$lab" $run --steps 50 | grep -E '^state hash|simulated time' | sed 's/^steps: .*,//')
  # shellcheck disable=SC2086
  saved=$("$lab" $run --steps 30 --save-state "$work/lab.state" | grep -E '^state hash|simulated time' | sed 's/^steps: .*,//')
  again=$("$lab" --steps 20 --load-state "$work/lab.state" | grep -E '^state hash|simulated time' | sed 's/^steps: .*,//')
  [ "$whole" = "$again" ] || fail "$run: 50 steps $whole, 30 saved and 20 more $again"
  # Taken up with no step: the saved lists and counts as they were.
  loaded=$("$lab" --steps 0 --load-state "$work/lab.state" | grep -E '^state hash|simulated time' | sed 's/^steps: .*,//')
  [ "$saved" = "$loaded" ] || fail "$run: saved $saved, loaded $loaded"
done
# A scene file gives the hash of the same scene by name, preset, count and
# --set: the shipped dam, and one that changes every part.
file=$(hash_of "$("$lab" --scene "$(dirname "$0")/../data/scenes/koshizuka-oka-dam.toml" --steps 5)")
named=$(hash_of "$("$lab" --scene dam --preset water --steps 5)")
[ "$file" = "$named" ] || fail "data/scenes/koshizuka-oka-dam.toml: $file, the water dam by name: $named"
printf 'scene = "pool"\npreset = "water"\nparticles = 2000\n[parameters]\nviscosity = 0.5\ngravity.y = -5\n' >"$work/pool.toml"
file=$(hash_of "$("$lab" --scene "$work/pool.toml" --steps 5)")
named=$(hash_of "$("$lab" --scene pool --preset water --particles 2000 --set viscosity=0.5 --set gravity.y=-5 --steps 5)")
[ "$file" = "$named" ] || fail "a pool scene file: $file, by name: $named"

# A state written before the parameters were saved as lines (as raw memory)
# goes on as it did then: 12 particles saved at step 3, 5 steps more.
old=$(hash_of "$("$lab" --steps 5 --load-state "$(dirname "$0")/data/lab-state-v1.state")")
[ "$old" = fe6c2220d1ae6853 ] || fail "a state of format version 1 went on to $old"

# A file whose moving count exceeds its particle count, its checksum made
# good again, is refused.
/usr/bin/python3 - "$work/lab.state" "$work/moving.state" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read()[:-8])
struct.pack_into("<i", data, 36, struct.unpack_from("<i", data, 32)[0] + 1)
h = 0xcbf29ce484222325
for byte in data:
    h = ((h ^ byte) * 0x100000001b3) & 0xffffffffffffffff
open(sys.argv[2], "wb").write(bytes(data) + struct.pack("<Q", h))
PY
rc=0
out=$("$lab" --steps 1 --load-state "$work/moving.state" 2>&1) || rc=$?
[ "$rc" -eq 2 ] && [[ "$out" == *damaged* ]] || fail "more moving particles than particles: exit $rc, said: $out"

# The water solver keeps its particles in an order of its own; exported, a
# run taken up again writes the files of the straight run.
rm -rf "$work/straight" "$work/again"
"$lab" "${dam[@]}" --steps 50 --export "$work/straight" --every 10 >/dev/null
"$lab" "${dam[@]}" --steps 30 --save-state "$work/water.state" >/dev/null
"$lab" --steps 20 --load-state "$work/water.state" --export "$work/again" --every 10 >/dev/null
for step in 000030 000040 000050; do
  cmp -s "$work/straight/particles-$step.vtp" "$work/again/particles-$step.vtp" ||
    fail "water dam exported at step $step: the run taken up again differs from the straight one"
done
# The report's figures of the run: a pool's water compressed by some but
# under a per cent on the mean, under ten at worst; simulated time gone by
# in the run's wall-clock time.
out=$("$lab" --preset water --scene pool --particles 2000 --steps 20)
read -r mean worst < <(sed -nE 's/^density error: mean ([0-9.e+-]+) %, max ([0-9.e+-]+) %$/\1 \2/p' <<<"$out")
awk -v m="${mean:--1}" -v w="${worst:--1}" 'BEGIN { exit !(m > 0 && m < 1 && w >= m && w < 10) }' ||
  fail "a still pool's density error: $(grep 'density error' <<<"$out")"
factor=$(sed -n 's/^real-time factor: //p' <<<"$out")
awk -v f="${factor:-0}" 'BEGIN { exit !(f > 0) }' || fail "a pool's real-time factor: '$factor'"

# A damaged file, and a demo driver's, are refused before anything is built.
size=$(stat -c %s "$work/lab.state")
printf '\x55' | dd of="$work/lab.state" bs=1 seek=$((size / 2)) conv=notrunc status=none
rc=0
out=$("$lab" --steps 1 --load-state "$work/lab.state" 2>&1) || rc=$?
[ "$rc" -eq 2 ] && [[ "$out" == *checksum* ]] || fail "damaged state: exit $rc, said: $out"
"$demo" --steps 1 --save-state "$work/demo.state" >/dev/null
rc=0
out=$("$lab" --steps 1 --load-state "$work/demo.state" 2>&1) || rc=$?
[ "$rc" -eq 2 ] && [[ "$out" == *"demo driver"* ]] || fail "demo state: exit $rc, said: $out"
echo "lab driver: all checks passed"
