#!/usr/bin/env bash
# Takes docs/screenshot.png: the window, at the size it first opens with, after it has
# read and downloaded the bundled board site's demo board, on a virtual X display; beside
# it screenshot-large.png (the same, the window made larger: the album list takes the
# room), screenshot-failed.png (a board that needs a login, read without one: the phase
# line and the message say so) and screenshot-stopped.png (a download stopped with
# "终止下载"); and the first two again in English, on a system whose locale asks for it:
# screenshot-en.png and screenshot-en-large.png.
#   scripts/screenshot.sh [OUTPUT.png]        (CORVADIN_BUILD_DIR: build folder, default build)
# Installs what it needs (Xvfb, CJK fonts ...), builds corvadin and corvadin-boardsite,
# starts the board site on a free loopback port, runs
#   corvadin --address URL --auto-start --screenshot FILE [--stop-when-downloading]
# which presses "获取相册" once start-up is done and saves a picture of the window when
# the run has ended, and stops everything again.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
output=${1:-docs/screenshot.png}
[[ "$output" = /* ]] || output="$root/$output"
large="${output%.png}-large.png"
failed="${output%.png}-failed.png"
stopped="${output%.png}-stopped.png"
english="${output%.png}-en.png"
english_large="${output%.png}-en-large.png"

build=${CORVADIN_BUILD_DIR:-build}

bash scripts/setup.sh --screenshot
if [[ ! -f "$build/build.ninja" ]]; then
  cmake -S . -B "$build" -G Ninja >/dev/null
fi
cmake --build "$build" -j2 --target corvadin corvadin-boardsite >/dev/null

scratch="$root/$build/screenshot"
rm -rf "$scratch"
mkdir -p "$scratch" "$(dirname "$output")"

# Port 0: the site picks a free port and prints its demo board's address. Board 1002
# needs a login; a little latency leaves time to stop a run.
"$build/corvadin-boardsite" --port 0 --login-board --latency-ms 100 >"$scratch/site.log" 2>&1 &
site=$!
trap 'kill $site 2>/dev/null; wait $site 2>/dev/null || true' EXIT
address=""
for _ in $(seq 100); do
  address=$(grep -m1 -o 'http://[^ ]*/boards/1001/' "$scratch/site.log" 2>/dev/null || true)
  [[ -n "$address" ]] && break
  sleep 0.1
done
if [[ -z "$address" ]]; then
  echo "screenshot: the board site did not start" >&2
  cat "$scratch/site.log" >&2
  exit 1
fi
host=${address#http://}
host=${host%%/*}

# shoot NAME ADDRESS FILE [OPTION...]: one run of the window in a working folder of its own,
# in the locale $locale (which chooses the language).
locale=zh_CN.UTF-8
shoot() {
  local name=$1 url=$2 file=$3
  shift 3
  mkdir -p "$scratch/$name"
  rm -f "$file"
  # The working folder lies outside the temporary folders, so the downloads land in it
  # (the save path defaults to the working folder).
  # A Chinese locale makes the fonts pick the simplified Chinese forms.
  env -u LC_ALL -u LC_MESSAGES -u LANGUAGE -u CORVADIN_LANGUAGE \
    CORVADIN_SITE_HOST="$host" CORVADIN_IMAGE_HOST="$host" LANG="$locale" \
    timeout 180 xvfb-run -a -s '-screen 0 1600x1000x24' \
    "$build/corvadin" --work-folder "$scratch/$name" \
      --address "$url" --auto-start --screenshot "$file" "$@"
  if [[ ! -s "$file" ]]; then
    echo "screenshot: no picture was written for $name" >&2
    exit 1
  fi
  echo "screenshot: $file"
}

shoot work "$address" "$output"
shoot large "$address" "$large" --window-size 1200x760
shoot failed "${address%/boards/1001/}/boards/1002/" "$failed"
shoot stopped "$address" "$stopped" --stop-when-downloading
locale=en_US.UTF-8
shoot english "$address" "$english"
shoot english-large "$address" "$english_large" --window-size 1200x760
