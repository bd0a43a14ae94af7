#!/usr/bin/env bash
# Download benchmark against the local board site behind an emulated network.
#
# One run, one board of $PINS pictures (30 to 300 KB, JPEG/PNG/GIF), a latency of
# $LATENCY_MS per request and a per-connection bandwidth cap of $KBPS KB/s. Measures on
# the same pictures:
#   1. the whole corvadin-cli job with 15 threads (read board, page pins, name, download),
#   2. its download phase alone (as the CLI reports it),
#   3. aria2c with 15 connections on the list that corvadin-cli --list-only wrote,
#   4. xargs -P 15 curl on that list,
#   5. the lower bound the emulated network allows (15 connections, each picture costing
#      its latency plus its size at the cap, perfectly packed).
# Prints each time, the peak memory of corvadin-cli and the ratios.
#
# Usage: bench/run.sh          (PINS, LATENCY_MS, KBPS, PORT may be set in the environment)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

PINS=${PINS:-1000}
LATENCY_MS=${LATENCY_MS:-20}
KBPS=${KBPS:-1024}
PORT=${PORT:-8097}
THREADS=15

bash scripts/setup.sh --bench
build=${CORVADIN_BUILD_DIR:-build}
[[ -f "$build/build.ninja" ]] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target corvadin-cli corvadin-boardsite >/dev/null

work=$(mktemp -d /tmp/corvadin-bench-XXXXXX)
trap 'kill $site 2>/dev/null || true; wait $site 2>/dev/null || true; rm -rf "$work"' EXIT

"$build/corvadin-boardsite" --port "$PORT" --boards 1 --pins "$PINS" --min-kb 30 --max-kb 300 \
  --kinds jpeg,png,gif --latency-ms "$LATENCY_MS" --bandwidth-kbps "$KBPS" --seed 7 >"$work/site.log" 2>&1 &
site=$!
for _ in $(seq 100); do grep -q "/boards/2001/" "$work/site.log" 2>/dev/null && break; sleep 0.1; done
address="http://127.0.0.1:$PORT/boards/2001/"
export CORVADIN_SITE_HOST="127.0.0.1:$PORT" CORVADIN_IMAGE_HOST="127.0.0.1:$PORT"

now() { date +%s.%N; }
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

# 1 + 2: the whole job, with peak memory; the CLI reports its download phase.
mkdir -p "$work/cli-work" "$work/corvadin"
t0=$(now)
/usr/bin/time -f "%M" -o "$work/rss" "$build/corvadin-cli" -w "$work/cli-work" -o "$work/corvadin" -j $THREADS \
  --timeout 30 --name-base address "$address" >"$work/cli.out" 2>&1 || { cat "$work/cli.out"; exit 1; }
t1=$(now)
whole=$(secs "$t0" "$t1")
"$build/corvadin-cli" -w "$work/cli-work" -o "$work/corvadin-again" -j $THREADS --name-base address "$address" \
  --list-only >/dev/null 2>&1 || true
list=$(find "$work/corvadin-again" -name '*.lst' | head -n 1)
pictures=$(find "$work/corvadin" -type f ! -name pic.kzv | wc -l)
rss_kb=$(cat "$work/rss")

# The download phase alone: from the first request of the worker pool to its end, as the
# CLI reports it.
phase=$(grep -o 'download phase [0-9.]*' "$work/cli.out" | awk '{print $3}' | head -n 1)

# 3: aria2c on the list (GBK = ASCII for these addresses).
mkdir -p "$work/aria2c"
t0=$(now)
aria2c -q -i "$list" -j $THREADS -x 1 -s 1 -d "$work/aria2c" --allow-overwrite=true --auto-file-renaming=false \
  --file-allocation=none --console-log-level=error >/dev/null 2>&1
t1=$(now)
aria=$(secs "$t0" "$t1")

# 4: xargs -P 15 curl.
mkdir -p "$work/curl"
t0=$(now)
(cd "$work/curl" && tr -d '\r' <"$list" | xargs -P $THREADS -n 1 curl -sS -O)
t1=$(now)
curlx=$(secs "$t0" "$t1")

# 5: the lower bound: per picture latency + size / cap, packed perfectly on 15 connections.
bound=$(find "$work/corvadin" -type f ! -name pic.kzv -printf '%s\n' |
  awk -v lat="$LATENCY_MS" -v kbps="$KBPS" -v n=$THREADS '
    { t = lat / 1000 + $1 / (kbps * 1024); sum += t; if (t > max) max = t }
    END { b = sum / n; if (max > b) b = max; printf "%.2f", b }')

# The same pictures everywhere?
same=yes
album=$(dirname "$(find "$work/corvadin" -type f -name '*.jpg' | head -n 1)")
for f in "$work/aria2c"/*; do cmp -s "$f" "$album/$(basename "$f").jpg" || { same=no; break; }; done  # names get ".jpg"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
cat <<EOF
Corvadin download benchmark ($(date -u +%Y-%m-%d), $(nproc) cores)
board: $pictures pictures, 30-300 KB, latency ${LATENCY_MS} ms per request, ${KBPS} KB/s per connection, $THREADS connections
  corvadin-cli whole job         ${whole} s
  corvadin-cli download phase    ${phase} s
  aria2c -j 15 on the list       ${aria} s
  xargs -P 15 curl on the list   ${curlx} s
  lower bound of the network     ${bound} s
  peak memory of corvadin-cli    $((rss_kb / 1024)) MiB
  download phase / aria2c        $(ratio "$phase" "$aria")   (target <= 1.00)
  whole job / aria2c             $(ratio "$whole" "$aria")   (target <= 1.25)
  lower bound / download phase   $(ratio "$bound" "$phase")
  same bytes as aria2c           $same
EOF
