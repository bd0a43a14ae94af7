#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need.
# Idempotent and quiet when everything is there.
# Usage: scripts/setup.sh [--bench | --screenshot | --fuzz | --package | --artwork | --pictures]
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-webengine-dev libcurl4-openssl-dev zlib1g-dev
  libgtest-dev libcpp-httplib-dev libicu-dev
  libqt6svg6        # the window's scalable icon (Qt's SVG image and icon plugins)
  qt6-tools-dev qt6-l10n-tools  # qt_add_translations, lupdate and lrelease (the English translation)
  qt6-translations-l10n         # Qt's own dialogs in the program's language
  util-linux mount  # unshare and mount: the CLI's full-disk and read-only tests
  strace           # the CLI's durability test watches its fdatasync, rename and fsync
)
if [[ "${1:-}" == "--bench" ]]; then
  # eatmydata: the cost of the fsyncs, measured by a run that skips them
  packages+=(aria2 curl time eatmydata)
fi
if [[ "${1:-}" == "--screenshot" ]]; then
  packages+=(xvfb xauth x11-apps imagemagick fonts-noto-cjk)
fi
if [[ "${1:-}" == "--package" ]]; then
  # cpack's DEB generator (dpkg-shlibdeps finds the dependencies, file tells it the ELF
  # files) and the validators of the desktop entry and the metainfo
  packages+=(dpkg-dev file desktop-file-utils appstream)
fi
if [[ "${1:-}" == "--artwork" ]]; then
  # dist/artwork/MakeArtwork.cpp writes the scalable icon with Qt SVG
  packages+=(qt6-svg-dev)
fi
if [[ "${1:-}" == "--pictures" ]]; then
  # the encoders that made the board site's WebP, AVIF and HEIC pictures
  # (tools/boardsite/pictures/make.sh)
  packages+=(webp libavif-bin libheif-examples)
fi
if [[ "${1:-}" == "--fuzz" ]]; then
  # clang with libFuzzer and its sanitizer runtimes (scripts/fuzz.sh)
  packages+=(clang-14 libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
