#!/usr/bin/env bash
# The one test command: installs what is missing, configures, builds with 2 jobs and
# runs every test suite. Non-zero on any failure.
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UBSan build in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

build=build
flags=(-DCORVADIN_WERROR=ON)
if [[ "${1:-}" == "--sanitize" ]]; then
  build=build-asan
  flags+=(-DCORVADIN_SANITIZE=ON -DCORVADIN_BUILD_GUI=OFF -DCMAKE_BUILD_TYPE=Debug)
fi

cmake -S . -B "$build" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$build" -j2
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j2 --timeout 300
