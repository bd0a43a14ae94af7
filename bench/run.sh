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
#      its latency plus its size at the cap, perfectly packed),
#   6. the whole job again with every fsync and fdatasync made a no-op (eatmydata): the
#      cost of writing each picture durably,
#   7. a second site with 15 pictures of BIG_MB each (no emulated network), downloaded
#      with 15 workers, durably and not: peak memory and the cost of the syncs there.
# Prints each time, the peak memory of corvadin-cli and the ratios.
#
# Usage: bench/run.sh          (PINS, LATENCY_MS, KBPS, BIG_MB, PORT may be set in the environment)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

PINS=${PINS:-1000}
LATENCY_MS=${LATENCY_MS:-20}
KBPS=${KBPS:-1024}
PORT=${PORT:-8097}
BIG_MB=${BIG_MB:-100}
THREADS=15

bash scripts/setup.sh --bench
build=${CORVADIN_BUILD_DIR:-build}
# Where several builds share a machine, CORVADIN_BUILD_LOCK names a lock file that the
# configure and build steps take (flock).
lock=()
[[ -n "${CORVADIN_BUILD_LOCK:-}" ]] && lock=(flock "$CORVADIN_BUILD_LOCK")
[[ -f "$build/build.ninja" ]] || "${lock[@]}" cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
"${lock[@]}" cmake --build "$build" -j2 --target corvadin-cli corvadin-boardsite >/dev/null

work=$(mktemp -d /tmp/corvadin-bench-XXXXXX)
big_site=
trap 'kill $site $big_site 2>/dev/null || true; wait $site $big_site 2>/dev/null || true; rm -rf "$work"' EXIT

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
pictures=$(find "$work/corvadin" -type f ! -name pic.kzv ! -name .corvadin-archive | wc -l)
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

# 6: the whole job without the syncs.
mkdir -p "$work/cli-work-nosync" "$work/corvadin-nosync"
t0=$(now)
eatmydata "$build/corvadin-cli" -w "$work/cli-work-nosync" -o "$work/corvadin-nosync" -j $THREADS \
  --timeout 30 --name-base address "$address" >"$work/cli-nosync.out" 2>&1 || { cat "$work/cli-nosync.out"; exit 1; }
t1=$(now)
nosync=$(secs "$t0" "$t1")
rm -rf "$work/corvadin-nosync"

# 7: 15 large pictures, durably and not, peak memory each time.
big_port=$((PORT + 1))
big_kb=$((BIG_MB * 1024))
"$build/corvadin-boardsite" --port "$big_port" --boards 1 --pins $THREADS --min-kb $big_kb --max-kb $big_kb \
  --kinds jpeg,png,gif --seed 11 >"$work/big-site.log" 2>&1 &
big_site=$!
for _ in $(seq 100); do grep -q "/boards/2001/" "$work/big-site.log" 2>/dev/null && break; sleep 0.1; done
big_run() { # $1: a name; the rest: what runs the CLI (nothing, or eatmydata)
  local name=$1
  shift
  mkdir -p "$work/big-work-$name"
  local t0 t1
  t0=$(now)
  CORVADIN_SITE_HOST="127.0.0.1:$big_port" CORVADIN_IMAGE_HOST="127.0.0.1:$big_port" \
    /usr/bin/time -f "%M" -o "$work/big-rss-$name" "$@" "$build/corvadin-cli" -w "$work/big-work-$name" \
    -o "$work/big-$name" -j $THREADS --timeout 30 "http://127.0.0.1:$big_port/boards/2001/" \
    >"$work/big-$name.out" 2>&1 || { cat "$work/big-$name.out"; exit 1; }
  t1=$(now)
  secs "$t0" "$t1" >"$work/big-time-$name"
  grep -o 'saved: [0-9]*' "$work/big-$name.out" | awk '{print $2}' | head -n 1 >"$work/big-saved-$name"
  rm -rf "$work/big-$name"
}
sync # what the runs before left in the page cache is not the large run's to write
big_run durable
sync
big_run nosync eatmydata
big_saved=$(cat "$work/big-saved-durable")
big_rss_kb=$(cat "$work/big-rss-durable")
big_rss_nosync_kb=$(cat "$work/big-rss-nosync")
big_time=$(cat "$work/big-time-durable")
big_time_nosync=$(cat "$work/big-time-nosync")

# 5: the lower bound: per picture latency + size / cap, packed perfectly on 15 connections.
bound=$(find "$work/corvadin" -type f ! -name pic.kzv ! -name .corvadin-archive -printf '%s\n' |
  awk -v lat="$LATENCY_MS" -v kbps="$KBPS" -v n=$THREADS '
    { t = lat / 1000 + $1 / (kbps * 1024); sum += t; if (t > max) max = t }
    END { b = sum / n; if (max > b) b = max; printf "%.2f", b }')

# The same pictures everywhere?
same=yes
album=$(dirname "$(find "$work/corvadin" -type f -name '*.jpg' | head -n 1)")
for f in "$work/aria2c"/*; do cmp -s "$f" "$album/$(basename "$f").jpg" || { same=no; break; }; done  # names get ".jpg"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
percent() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%+.1f %%", (a / b - 1) * 100 }'; }
cat <<EOF
Corvadin download benchmark ($(date -u +%Y-%m-%d), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg) at the end)
board: $pictures pictures, 30-300 KB, latency ${LATENCY_MS} ms per request, ${KBPS} KB/s per connection, $THREADS connections
  corvadin-cli whole job         ${whole} s
  corvadin-cli download phase    ${phase} s
  aria2c -j 15 on the list       ${aria} s
  xargs -P 15 curl on the list   ${curlx} s
  lower bound of the network     ${bound} s
  whole job without the syncs    ${nosync} s
  peak memory of corvadin-cli    $((rss_kb / 1024)) MiB
  whole job / download phase     $(ratio "$whole" "$phase")   (target <= 1.03)
  download phase / aria2c        $(ratio "$phase" "$aria")   (target <= 1.00)
  whole job / aria2c             $(ratio "$whole" "$aria")   (target <= 1.00)
  lower bound / download phase   $(ratio "$bound" "$phase")
  cost of the syncs              $(percent "$whole" "$nosync") of the whole job
  same bytes as aria2c           $same
large pictures: $THREADS x ${BIG_MB} MB, $THREADS workers, no emulated network, saved: ${big_saved}
  corvadin-cli whole job         ${big_time} s (without the syncs ${big_time_nosync} s: $(percent "$big_time" "$big_time_nosync"))
  peak memory of corvadin-cli    $((big_rss_kb / 1024)) MiB (without the syncs $((big_rss_nosync_kb / 1024)) MiB; target < 64)
EOF
