#!/usr/bin/env bash
# The one test command: installs what is missing, configures, builds with 2 jobs and
# runs the test suites. Non-zero on any failure.
#   scripts/test.sh              normal build in build/: every suite
#   scripts/test.sh --sanitize   AddressSanitizer + UBSan build in build-asan/: the core,
#                                the CLI, the board site and every suite but the GUI's
#   scripts/test.sh --tsan       ThreadSanitizer build in build-tsan/: the download run,
#                                board reading, HTTP session, retry and shared-files
#                                suites and the 2,000-picture run of the worker pool
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-}
case "$mode" in
  ""|--sanitize|--tsan) ;;
  *) echo "usage: scripts/test.sh [--sanitize | --tsan]" >&2; exit 2 ;;
esac

bash scripts/setup.sh

# Where several builds share a machine, CORVADIN_BUILD_LOCK names a lock file that the
# configure and build steps take (flock).
lock=()
[[ -n "${CORVADIN_BUILD_LOCK:-}" ]] && lock=(flock "$CORVADIN_BUILD_LOCK")

export QT_QPA_PLATFORM=offscreen

if [[ "$mode" == "--tsan" ]]; then
  # The system's Qt is not instrumented; these suites give no report from inside it, so
  # no suppressions are needed. A report fails the suite (exit code 66).
  # SUITE:FILTER; the 2,000-picture run is the worker pool at full size (the Faults
  # suite's memory ceilings do not hold under TSan's shadow memory, so only it runs).
  suites=(
    "DownloadRunTest:*"
    "DownloadArchiveTest:*"
    "BoardReadTest:*"
    "UrlSessionTest:*"
    "RetryTest:*"
    "SharedFilesTest:*"
    "FaultsTest:Faults.TwoThousandPicturesWithOneInTenFailing"
  )
  build=build-tsan
  targets=()
  for s in "${suites[@]}"; do targets+=("test_${s%%:*}"); done
  "${lock[@]}" cmake -S . -B "$build" -G Ninja -DCORVADIN_WERROR=ON -DCORVADIN_SANITIZE=thread \
    -DCORVADIN_BUILD_GUI=OFF -DCORVADIN_BUILD_CLI=OFF -DCORVADIN_SPLIT_TESTS=ON \
    -DCMAKE_BUILD_TYPE=Debug >/dev/null
  "${lock[@]}" cmake --build "$build" -j2 --target "${targets[@]}"
  export TSAN_OPTIONS="second_deadlock_stack=1"
  failed=0
  for s in "${suites[@]}"; do
    binary="$build/test_${s%%:*}"
    filter=${s#*:}
    echo "tsan: test_${s%%:*} --gtest_filter=$filter"
    selected=$("$binary" --gtest_list_tests --gtest_filter="$filter" | grep -c '^  ' || true)
    if [[ "$selected" -eq 0 ]]; then
      echo "tsan: no test matches $filter" >&2
      failed=1
      continue
    fi
    "$binary" --gtest_brief=1 --gtest_filter="$filter" || failed=1
  done
  exit $failed
fi

build=build
flags=(-DCORVADIN_WERROR=ON)
if [[ "$mode" == "--sanitize" ]]; then
  build=build-asan
  flags+=(-DCORVADIN_SANITIZE=ON -DCORVADIN_BUILD_GUI=OFF -DCMAKE_BUILD_TYPE=Debug)
  export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1"
fi

"${lock[@]}" cmake -S . -B "$build" -G Ninja "${flags[@]}" >/dev/null
"${lock[@]}" cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure -j2 --timeout 300
