#!/usr/bin/env bash
# Makes the board site's WebP, AVIF and HEIC pictures with the encoders of Debian's
# packages (webp, libavif-bin, libheif-examples), from the application icon. The files are
# committed; run this only to make them again (the encoders' output differs between
# versions). Made with cwebp 1.2.4, avifenc 0.11.1 (aom 3.6.0), heif-enc 1.15.1 (x265).
set -euo pipefail
cd "$(dirname "$0")"
bash ../../../scripts/setup.sh --pictures
icon=../../../src/app/resources/corvadin.png
# Lossy with alpha: the extended layout (VP8X, ALPH, VP8), which may carry more chunks.
cwebp -quiet -q 75 -resize 48 48 "$icon" -o photo.webp
# Lossless: the simple layout (VP8L).
cwebp -quiet -lossless -resize 24 24 "$icon" -o photo-lossless.webp
avifenc -s 10 --min 30 --max 40 "$icon" photo.avif >/dev/null
heif-enc -q 40 "$icon" -o photo.heic >/dev/null
ls -l photo*
