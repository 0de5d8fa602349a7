#!/usr/bin/env bash
# Builds the libFuzzer targets (in the asan preset's build, clang with ASan
# and UBSan, where the sanitizer tests are built too) and runs each one
# for a while, by default 60 seconds (scripts/test.sh: 10).
#
#   scripts/fuzz.sh [seconds per target] [target name filter]
#
# Every target exists once per deliverable. A crash, a sanitizer finding or a
# failed check stops the run with a non-zero exit code and leaves the input
# that caused it in build/asan/fuzz/artifacts/. The corpora grow in
# build/asan/fuzz/corpus/ and are reused by the next run; a target with seeds in
# tests/fuzz/corpus/<target>/ (real files and command lines) starts from them
# too. Prints, per target, the number of inputs executed.
set -euo pipefail
cd "$(dirname "$0")/.."
# Absolute paths: a target may change its working folder while it runs.
root=$(pwd)

seconds=${1:-60}
filter=${2:-}

cmake --preset asan >/dev/null
cmake --build --preset asan -j"$(nproc)"

out=build/asan/fuzz
mkdir -p "$out/artifacts" "$out/logs"
status=0
summary=()
for target in build/asan/tests/fuzz/*-fuzz-*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  [[ -z "$filter" || "$name" == *"$filter"* ]] || continue
  corpus=$root/$out/corpus/$name
  log=$out/logs/$name.log
  mkdir -p "$corpus"
  seeds=()
  [ ! -d "tests/fuzz/corpus/$name" ] || seeds=("$root/tests/fuzz/corpus/$name")
  echo "fuzzing $name for ${seconds} s"
  # Standard output is closed: the solver logs every reseed there.
  rc=0
  # Long inputs from the start: a message sequence needs some length before
  # it reaches the states worth fuzzing, and libFuzzer would otherwise grow
  # the length limit slowly over most of a short run.
  # Leaks are not the question here and checking for them at every input
  # would slow the run; the sanitizer tests run with leak detection.
  ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
    "$target" -max_total_time="$seconds" -max_len=1024 -len_control=0 -timeout=20 -rss_limit_mb=2048 \
    -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$root/$out/artifacts/$name-" \
    "$corpus" "${seeds[@]}" >"$log" 2>&1 || rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true)
  [ -z "$done_line" ] || echo "  $done_line"
  if [ "$rc" -ne 0 ]; then
    status=1
    tail -n 40 "$log"
    summary+=("$name: FAILED (exit $rc) after ${runs:-?} inputs, see $log")
  else
    summary+=("$name: ${runs:-?} inputs, no crash, no sanitizer finding, every check held")
  fi
done

[ ${#summary[@]} -gt 0 ] || { echo "no fuzz target matched '$filter'" >&2; exit 1; }
printf '%s\n' "${summary[@]}"
exit "$status"
