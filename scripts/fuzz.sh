#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (ASan + UBSan, coverage over the whole
# core) in build-fuzz/ and runs each one for SECONDS (default 60), two at a time, starting
# from its seed corpus fuzz/corpus/<target>/. Prints the executions per target. Non-zero
# when a target finds a fault; the input that shows it is kept in build-fuzz/crashes/.
#   scripts/fuzz.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
jobs=${FUZZ_JOBS:-2}
build=build-fuzz

bash scripts/setup.sh --fuzz

# Where several builds share a machine, CORVADIN_BUILD_LOCK names a lock file that the
# configure and build steps take (flock).
lock=()
[[ -n "${CORVADIN_BUILD_LOCK:-}" ]] && lock=(flock "$CORVADIN_BUILD_LOCK")

"${lock[@]}" cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCORVADIN_FUZZ=ON -DCORVADIN_WERROR=ON -DCORVADIN_BUILD_GUI=OFF -DCORVADIN_BUILD_CLI=OFF \
  -DCORVADIN_BUILD_TESTS=OFF -DCORVADIN_BUILD_TOOLS=OFF >/dev/null
"${lock[@]}" cmake --build "$build" -j2

mkdir -p "$build/crashes" "$build/logs"
# The naming and soft.dat targets write (and sync) files for every input: on a memory
# file system that costs little.
if [[ -d /dev/shm && -w /dev/shm ]]; then
  export TMPDIR=/dev/shm
fi
targets=()
for source in fuzz/fuzz_*.cpp; do
  targets+=("$(basename "$source" .cpp)")
done

run() {
  local t=$1
  mkdir -p "$build/corpus/$t"
  # The working corpus in build-fuzz/ grows; the seeds in fuzz/corpus/ are only read.
  # -timeout and -rss_limit_mb turn an input that takes too long or too much memory
  # into a failure.
  "$build/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$build/crashes/$t-" \
    "$build/corpus/$t" "fuzz/corpus/$t" >"$build/logs/$t.log" 2>&1
}

failed=0
pids=()
names=()
for t in "${targets[@]}"; do
  while [[ $(jobs -rp | wc -l) -ge $jobs ]]; do
    wait -n || true
  done
  run "$t" &
  pids+=($!)
  names+=("$t")
done

printf '%-20s %12s %8s  %s\n' target executions corpus result
for i in "${!pids[@]}"; do
  t=${names[$i]}
  result=ok
  wait "${pids[$i]}" || { result="FAULT (see $build/logs/$t.log)"; failed=1; }
  execs=$(awk '/stat::number_of_executed_units/ {print $2}' "$build/logs/$t.log" | tail -1)
  corpus=$(find "$build/corpus/$t" -type f | wc -l)
  printf '%-20s %12s %8s  %s\n' "$t" "${execs:-?}" "$corpus" "$result"
done
if [[ $failed -ne 0 ]]; then
  for t in "${names[@]}"; do
    grep -q -E "^(==[0-9]+==ERROR|invariant failed|SUMMARY)" "$build/logs/$t.log" && tail -40 "$build/logs/$t.log"
  done
  exit 1
fi
echo "fuzz: ${#targets[@]} targets, ${seconds} s each, no fault"
