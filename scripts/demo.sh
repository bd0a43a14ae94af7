#!/usr/bin/env bash
# The demo: starts the bundled board site, downloads its demo board into ./downloads with
# corvadin-cli, prints where the pictures are, and stops the site again.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh
if [[ ! -x build/corvadin-cli || ! -x build/corvadin-boardsite ]]; then
  cmake -S . -B build -G Ninja >/dev/null
fi
cmake --build build -j2 --target corvadin-cli corvadin-boardsite >/dev/null

port=${CORVADIN_DEMO_PORT:-8090}
build/corvadin-boardsite --port "$port" >/tmp/corvadin-demo-site.log 2>&1 &
site=$!
trap 'kill $site 2>/dev/null; wait $site 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  grep -q "/boards/" /tmp/corvadin-demo-site.log 2>/dev/null && break
  sleep 0.1
done

work="$root/downloads/.corvadin"
mkdir -p "$work"
export CORVADIN_SITE_HOST="127.0.0.1:$port" CORVADIN_IMAGE_HOST="127.0.0.1:$port"
address="http://127.0.0.1:$port/boards/1001/"
echo "Reading $address"
build/corvadin-cli --info -w "$work" "$address"
echo
status=0
build/corvadin-cli -w "$work" -o "$root/downloads" --names-file "$address" || status=$?
echo
album="$root/downloads/demo/演示相册"
echo "The pictures are in: $album/ ($(ls "$album" | wc -l) files)"
ls "$album" | head -n 5
echo "..."
exit $status
