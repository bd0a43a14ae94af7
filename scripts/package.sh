#!/usr/bin/env bash
# Builds the Debian package (cpack -G DEB in build/), checks its desktop entry and
# metainfo, installs it with apt-get (as root, or through sudo) and runs the installed
# programs: corvadin-cli --version and --info against the local board site (from the
# build folder), corvadin --version. The package is removed again afterwards unless
# --keep is given.
#   scripts/package.sh [--keep]
set -euo pipefail
cd "$(dirname "$0")/.."

keep=0
case "${1:-}" in
  "") ;;
  --keep) keep=1 ;;
  *) echo "usage: scripts/package.sh [--keep]" >&2; exit 2 ;;
esac

bash scripts/setup.sh --package
sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
lock=()
[[ -n "${CORVADIN_BUILD_LOCK:-}" ]] && lock=(flock "$CORVADIN_BUILD_LOCK")

"${lock[@]}" cmake -S . -B build -G Ninja -DCORVADIN_WERROR=ON >/dev/null
"${lock[@]}" cmake --build build -j2
rm -f build/corvadin_*.deb
(cd build && cpack -G DEB >/dev/null)
deb=$(ls build/corvadin_*.deb)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
echo "package: $deb"
dpkg-deb --field "$deb" Package Version Architecture Depends Recommends

# What the package installs must pass the desktop's own validators.
tree=$(mktemp -d)
site=""
cleanup() {
  [[ -n "$site" ]] && { kill "$site" 2>/dev/null; wait "$site" 2>/dev/null || true; }
  rm -rf "$tree"
}
trap cleanup EXIT
dpkg-deb -x "$deb" "$tree"
desktop-file-validate "$tree"/usr/share/applications/*.desktop
appstreamcli validate --no-net "$tree"/usr/share/metainfo/*.metainfo.xml

# Installed, the programs answer from /usr/bin.
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "./$deb" >/dev/null
[[ $keep -eq 1 ]] || trap 'cleanup; $sudo env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq corvadin >/dev/null' EXIT
[[ $(/usr/bin/corvadin-cli --version) == "corvadin-cli $version" ]] || { echo "package: corvadin-cli --version is wrong" >&2; exit 1; }
[[ $(QT_QPA_PLATFORM=offscreen /usr/bin/corvadin --version) == "Corvadin $version" ]] || { echo "package: corvadin --version is wrong" >&2; exit 1; }

build/corvadin-boardsite --port 0 >"$tree/site.out" 2>&1 &
site=$!
for _ in $(seq 50); do
  grep -q "/boards/" "$tree/site.out" 2>/dev/null && break
  sleep 0.1
done
address=$(head -n 1 "$tree/site.out")
host=${address#http://}
host=${host%%/*}
mkdir "$tree/work"
info=$(CORVADIN_SITE_HOST=$host /usr/bin/corvadin-cli -w "$tree/work" --info "$address")
echo "installed corvadin-cli --info: $info"
[[ $info == *'"count":45'* && $info == *'"name":"演示相册"'* ]] || { echo "package: --info read no demo board" >&2; exit 1; }
echo "package: $(basename "$deb") builds, validates, installs and runs"
